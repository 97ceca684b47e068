"""The Python module on archives the real quiver builds, in a fresh
directory per test. Run by CTest with QUIVER_LIBRARY, QUIVER_BIN and
PYTHONPATH set."""
import io
import os
import resource
import shutil
import stat
import subprocess
import tempfile
import threading
import unittest
import zipfile

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


class FileSystemTest(ScratchCase):
    """Archives and mounts as os sees a directory tree, and members as file
    objects that other libraries take."""

    def test_members_are_file_objects(self):
        inner = io.BytesIO()
        with zipfile.ZipFile(inner, "w") as made:
            made.writestr("inside.txt", "zipped " * 1000)
        text = b"".join(b"line %d of the level\n" % i for i in range(200000))
        path = build(self.dir, [("data\\pack.zip", inner.getvalue()), ("Maps/big.txt", text)],
                     "-c")
        with quiver.Archive(path) as archive:
            # Another library seeks about in a compressed member.
            with zipfile.ZipFile(archive.open("DATA/PACK.ZIP")) as opened:
                self.assertEqual(opened.read("inside.txt"), b"zipped " * 1000)
            with io.BufferedReader(archive.open("maps/big.txt")) as buffered:
                self.assertEqual(buffered.readline(), b"line 0 of the level\n")
                buffered.seek(-21, io.SEEK_END)
                self.assertEqual(buffered.read(), text[-21:])
            stream = archive.open("maps/big.txt")
            self.assertEqual(stream.size, len(text))
            stream.seek(len(text) // 2)
            piece = bytearray(11)
            self.assertEqual(stream.readinto(piece), 11)
            self.assertEqual(piece, text[len(text) // 2:len(text) // 2 + 11])
            self.assertEqual(stream.tell(), len(text) // 2 + 11)
            stream.seek(3)
            copied = io.BytesIO()
            shutil.copyfileobj(stream, copied, 5000)
            self.assertEqual(copied.getvalue(), text[3:])
            self.assertEqual(stream.seek(10, io.SEEK_END), len(text) + 10)
            self.assertEqual(stream.read(), b"")
            with self.assertRaises(ValueError):
                stream.seek(-1)
            self.assertEqual(stream.tell(), len(text) + 10)
            stream.close()
            with self.assertRaises(ValueError):
                stream.read(1)
            with self.assertRaises(IsADirectoryError):
                archive.open("maps")
            with self.assertRaises(FileNotFoundError) as missing:
                archive.open("maps/none.txt")
            self.assertIsInstance(missing.exception, quiver.Error)
            kept = archive.open("Maps/big.txt")
        # A stream keeps its archive open.
        self.assertEqual(kept.read(), text)

    def test_listdir_walk_and_stat_as_os_has_them(self):
        path = build(self.dir, [("Maps\\level1.map", b"one"), ("Maps/sub/deep.txt", b"deep"),
                                ("readme.txt", b"read me"), ("a\\b\\c.txt", b"c")])
        with quiver.Archive(path) as archive:
            self.assertEqual(archive.listdir(), ["a", "Maps", "readme.txt"])
            self.assertEqual(archive.listdir("MAPS/"), ["level1.map", "sub"])
            self.assertEqual(list(archive.walk()),
                             [("", ["a", "Maps"], ["readme.txt"]), ("a", ["b"], []),
                              ("a/b", [], ["c.txt"]), ("Maps", ["sub"], ["level1.map"]),
                              ("Maps/sub", [], ["deep.txt"])])
            pruned = []
            for dirpath, dirnames, _ in archive.walk():
                pruned.append(dirpath)
                dirnames[:] = [name for name in dirnames if name != "a"]
            self.assertEqual(pruned, ["", "Maps", "Maps/sub"])
            found = archive.stat("MAPS\\SUB\\deep.txt")
            self.assertTrue(stat.S_ISREG(found.st_mode))
            self.assertEqual((found.st_size, found.compressed), (4, False))
            self.assertEqual(archive.names()[found.index], "Maps/sub/deep.txt")
            self.assertTrue(stat.S_ISDIR(archive.stat("maps/sub").st_mode))
            with self.assertRaises(NotADirectoryError):
                archive.listdir("readme.txt")
            with self.assertRaises(FileNotFoundError):
                archive.stat("maps/sub/none")

    def test_mounts_list_the_union_and_take_archives_of_any_source(self):
        base = build(self.sub("base"), [("maps\\a.map", b"base a"), ("sounds\\s.raw", b"s")])
        patch = build(self.sub("patch"), [("maps/b.map", b"patched b" * 30)], "-c")
        loose = self.sub("loose")
        os.makedirs(os.path.join(loose, "maps"))
        with open(os.path.join(loose, "maps", "a.map"), "wb") as out:
            out.write(b"loose a")
        with open(patch, "rb") as held:
            in_memory = io.BytesIO(held.read())
        with quiver.Mounts() as mounts:
            mounts.mount_archive(base)
            mounts.mount_directory(loose)
            with quiver.Archive(in_memory) as from_bytes:
                mounts.mount_archive(from_bytes)
            self.assertEqual(mounts.listdir(), ["maps", "sounds"])
            self.assertEqual(mounts.listdir("maps"), ["a.map", "b.map"])
            self.assertEqual([mounts.stat("maps/" + name).mount for name in ("a.map", "b.map")],
                             [1, 2])
            # The file system decides the case of loose files.
            with mounts.open("maps\\a.map") as loose_file:
                self.assertEqual(loose_file.read(), b"loose a")
            with mounts.open("maps/b.map") as patched:
                patched.seek(-9, io.SEEK_END)
                self.assertEqual(patched.read(), b"patched b")
            self.assertEqual([entry[0] for entry in mounts.walk("")], ["", "maps", "sounds"])

    def test_a_source_that_fails_is_an_error_not_an_exception_in_the_library(self):
        data = os.urandom(100000)
        path = build(self.dir, [("random.bin", data)])

        class Failing(io.BytesIO):
            failing = False

            def readinto(self, buffer):
                if self.failing:
                    raise OSError("the disk went away")
                return super().readinto(buffer)

        with open(path, "rb") as held:
            source = Failing(held.read())
        with quiver.Archive(source) as archive:
            stream = archive.open("random.bin")
            self.assertEqual(stream.read(10), data[:10])
            source.failing = True
            with self.assertRaises(quiver.Error) as failed:
                stream.read(10)
            self.assertEqual(failed.exception.status_name, "QUIVER_ERROR_DAMAGED")
            source.failing = False
            self.assertEqual(stream.read(), data[10:])


if __name__ == "__main__":
    unittest.main()
