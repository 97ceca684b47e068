"""The Python module on archives the real quiver builds, in a fresh
directory per test. Run by CTest with QUIVER_LIBRARY, QUIVER_BIN and
PYTHONPATH set."""
import os
import subprocess
import tempfile
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


class MountsTest(ScratchCase):
    def test_later_mounts_win_and_names_are_loose(self):
        base = build(self.sub("base"), [("maps\\a.map", b"base a"), ("maps\\b.map", b"base b")])
        patch = build(self.sub("patch"), [("Maps/A.map", b"patched a" * 20)], "-c")
        loose = self.sub("loose")
        os.makedirs(os.path.join(loose, "maps"))
        with open(os.path.join(loose, "maps", "b.map"), "wb") as out:
            out.write(b"loose b")
        mounts = quiver.Mounts()
        mounts.mount_archive(base)
        mounts.mount_archive(patch)
        mounts.mount_directory(loose)
        self.assertEqual(mounts.read("MAPS\\A.MAP"), b"patched a" * 20)
        self.assertEqual(mounts.read("maps/b.map"), b"loose b")
        with self.assertRaises(quiver.Error) as escaped:
            mounts.read("../base/list.rsp")
        self.assertEqual(escaped.exception.status, 3)


if __name__ == "__main__":
    unittest.main()
