"""The Python module on archives the real quiver builds, in a fresh
directory per test. Run by CTest with QUIVER_LIBRARY, QUIVER_BIN and
PYTHONPATH set."""
import os
import resource
import subprocess
import tempfile
import threading
import unittest

import quiver


def build(directory, members, option=None):
    """Writes the members and list.rsp in `directory` and runs quiver there."""
    names = []
    for name, data in members:
        path = os.path.join(directory, *name.replace("\\", "/").split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        names.append(name)
    with open(os.path.join(directory, "list.rsp"), "wb") as rsp:
        rsp.write(b"\n".join(os.fsencode(n) for n in names) + b"\n")
    args = [os.environ["QUIVER_BIN"]] + ([option] if option else []) + ["out", "@list"]
    subprocess.run(args, cwd=directory, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(directory, "out.qvr")


class ScratchCase(unittest.TestCase):
    def setUp(self):
        self._scratch = tempfile.TemporaryDirectory()
        self.dir = self._scratch.name

    def tearDown(self):
        self._scratch.cleanup()

    def sub(self, name):
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        return path


class ArchiveTest(ScratchCase):
    def test_names_in_table_order_and_reads_by_exact_name(self):
        members = [("maps\\level1.map", b"level one" * 100), ("art/logo.bmp", b"\x00\x01" * 50)]
        path = build(self.dir, members, "-c")
        with quiver.Archive(path) as archive:
            self.assertEqual(sorted(archive.names()), sorted(n for n, _ in members))
            for name, data in members:
                self.assertEqual(archive.read(name), data)
            with self.assertRaises(quiver.Error) as raised:
                archive.read("MAPS\\LEVEL1.MAP")
            self.assertEqual(raised.exception.status, 3)
            self.assertEqual(raised.exception.status_name, "QUIVER_ERROR_NOT_FOUND")
            self.assertEqual(archive.find_loose("MAPS/Level1.map"), "maps\\level1.map")
            self.assertIsNone(archive.find_loose("nothing"))
        with self.assertRaises(ValueError):
            archive.names()

    def test_names_that_are_not_utf8_survive(self):
        name = os.fsdecode(b"caf\xe9.txt")
        path = build(self.dir, [(name, b"latin-1 name")])
        with quiver.Archive(path) as archive:
            self.assertEqual(archive.names(), [name])
            self.assertEqual(archive.read(name), b"latin-1 name")

    def test_failures_raise_with_their_status(self):
        with self.assertRaises(quiver.Error) as missing:
            quiver.Archive(os.path.join(self.dir, "absent.qvr"))
        self.assertEqual(missing.exception.status, 1)
        damaged = os.path.join(self.dir, "damaged.qvr")
        with open(damaged, "wb") as out:
            out.write(b"\x05\x00\x00\x00" + b"\x00" * 12)
        with self.assertRaises(quiver.Error) as refused:
            quiver.Archive(damaged)
        self.assertEqual(refused.exception.status_name, "QUIVER_ERROR_DAMAGED")
        self.assertTrue(quiver.version().startswith("1."))


class SafetyTest(ScratchCase):
    """What pure Python code does must never corrupt memory or reach a
    member it did not name."""

    def test_close_waits_for_reads_in_flight(self):
        data = os.urandom(1 << 16) * 320
        path = build(self.dir, [("big.bin", data)])
        for close in (quiver.Archive.close, lambda archive: archive.__exit__(None, None, None)):
            archive = quiver.Archive(path)
            outcomes = []

            def reader():
                try:
                    while True:
                        outcomes.append(archive.read("big.bin") == data)
                except ValueError:
                    outcomes.append("closed")

            threads = [threading.Thread(target=reader) for _ in range(3)]
            for thread in threads:
                thread.start()
            while len(outcomes) < 3:
                pass
            close(archive)
            for thread in threads:
                thread.join()
            self.assertEqual(outcomes.count("closed"), 3)
            self.assertNotIn(False, outcomes)
        mounts = quiver.Mounts()
        mounts.mount_archive(path)
        mounts.close()
        with self.assertRaises(ValueError):
            mounts.read("big.bin")

    def test_nul_characters_and_lone_surrogates_are_refused(self):
        path = build(self.dir, [("secret", b"not this"), ("a", b"nor this")])
        os.link(path, os.path.join(self.dir, "n.qvr"))
        with self.assertRaises(ValueError):
            quiver.Archive(os.path.join(self.dir, "n.qvr\0.png"))
        with quiver.Archive(path) as archive, quiver.Mounts() as mounts:
            mounts.mount_archive(path)
            for call in (lambda: archive.read("secret\0.png"),
                         lambda: archive.readinto("secret\0.png", bytearray(8)),
                         lambda: archive.find_loose("A\0zzz"),
                         lambda: archive.read(b"secret\0"),
                         lambda: archive.read("\ud800"),
                         lambda: mounts.read("a\0x"),
                         lambda: mounts.mount_archive(path + "\0x"),
                         lambda: mounts.mount_directory(self.dir + "\0")):
                with self.assertRaises(ValueError):
                    call()
            with self.assertRaises(IndexError):
                archive._member(archive._handle.value, 2 ** 64)

    def test_reads_need_the_members_size_once(self):
        size = 48 << 20
        path = build(self.dir, [("big.bin", b"\x5a" * size)])
        with quiver.Archive(path) as archive:
            before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss << 10
            data = archive.read("big.bin")
            grown = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss << 10) - before
            self.assertEqual(data, b"\x5a" * size)
            self.assertLess(grown, size * 3 // 2)
            buffer = bytearray(size)
            self.assertEqual(archive.readinto("big.bin", buffer), size)
            self.assertEqual(buffer, data)
            with self.assertRaises(ValueError):
                archive.readinto("big.bin", bytearray(size - 1))
            with self.assertRaises(TypeError):
                archive.readinto("big.bin", bytes(size))


class MountsTest(ScratchCase):
    def test_later_mounts_win_and_names_are_loose(self):
        base = build(self.sub("base"), [("maps\\a.map", b"base a"), ("maps\\b.map", b"base b")])
        patch = build(self.sub("patch"), [("Maps/A.map", b"patched a" * 20)], "-c")
        loose = self.sub("loose")
        os.makedirs(os.path.join(loose, "maps"))
        with open(os.path.join(loose, "maps", "b.map"), "wb") as out:
            out.write(b"loose b")
        with quiver.Mounts() as mounts:
            mounts.mount_archive(base)
            mounts.mount_archive(patch)
            mounts.mount_directory(loose)
            self.assertEqual(mounts.read("MAPS\\A.MAP"), b"patched a" * 20)
            self.assertEqual(mounts.read("maps/b.map"), b"loose b")
            buffer = bytearray(7)
            self.assertEqual(mounts.readinto("maps/b.map", buffer), 7)
            self.assertEqual(buffer, b"loose b")
            with self.assertRaises(quiver.Error) as escaped:
                mounts.read("../base/list.rsp")
            self.assertEqual(escaped.exception.status, 3)


if __name__ == "__main__":
    unittest.main()
