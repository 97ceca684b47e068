"""Reading members straight from .qvr archives, through the quiver library.

    import quiver
    with quiver.Archive("game.qvr") as archive:
        for name in archive.names():
            data = archive.read(name)

    with quiver.Mounts() as mounts:
        mounts.mount_archive("base.qvr")
        mounts.mount_archive("patch.qvr")      # mounted later: wins
        mounts.mount_directory("assets")       # loose files during development
        level = mounts.read("maps/level1.map")  # case and separator forgiven
        print(mounts.listdir("maps"))           # as os.listdir; walk and stat too
        with mounts.open("music/theme.ogg") as music:   # a binary file object
            header = music.read(4)

Names are str (or bytes); bytes of a stored name that are not UTF-8 are kept
with surrogateescape, so every name read can be given back. A name or path
with a NUL character, or with a surrogate that stands for no byte, raises
ValueError, as open() does. Failures of the library raise quiver.Error,
whose status is the library's quiver_status; a name that is missing, not a
directory or a directory is also FileNotFoundError, NotADirectoryError or
IsADirectoryError, as from os. An archive, mounts or stream object may be
shared by threads; close() waits for the calls in flight, and calls after
it raise ValueError. The library is libquiver.so.1, or the file named by the
QUIVER_LIBRARY environment variable.
"""
import ctypes
import errno
import io
import os
import stat as _stat
import threading

__all__ = ["Archive", "Mounts", "Stream", "StatResult", "Error"]

_STATUS_NAMES = {
    0: "QUIVER_OK",
    1: "QUIVER_ERROR_OPEN",
    2: "QUIVER_ERROR_DAMAGED",
    3: "QUIVER_ERROR_NOT_FOUND",
    4: "QUIVER_ERROR_DECOMPRESSION",
    5: "QUIVER_ERROR_ARGUMENT",
    6: "QUIVER_ERROR_MEMORY",
    7: "QUIVER_ERROR_COMPRESSED",
    8: "QUIVER_ERROR_NOT_DIRECTORY",
    9: "QUIVER_ERROR_IS_DIRECTORY",
}
_NOT_FOUND = 3
_ARGUMENT = 5
_NO_INDEX = ctypes.c_size_t(-1).value


class _MemberInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("original_length", ctypes.c_uint32),
                ("stored_length", ctypes.c_uint32), ("compressed", ctypes.c_int)]


class _Entry(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("path", ctypes.c_char_p), ("directory", ctypes.c_int),
                ("size", ctypes.c_uint64), ("compressed", ctypes.c_int),
                ("index", ctypes.c_size_t), ("mount", ctypes.c_size_t)]


_Visit = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(_Entry))
_SourceRead = ctypes.CFUNCTYPE(ctypes.c_int64, ctypes.c_void_p, ctypes.c_int64, ctypes.c_void_p,
                               ctypes.c_size_t)
_SourceClose = ctypes.CFUNCTYPE(None, ctypes.c_void_p)


class _Source(ctypes.Structure):
    _fields_ = [("read", _SourceRead), ("size", ctypes.c_int64), ("close", _SourceClose),
                ("user", ctypes.c_void_p)]


def _load():
    lib = ctypes.CDLL(os.environ.get("QUIVER_LIBRARY", "libquiver.so.1"))
    handle = ctypes.c_void_p
    size = ctypes.c_size_t
    status = ctypes.c_int
    signatures = {
        "quiver_version": (ctypes.c_char_p, []),
        "quiver_status_message": (ctypes.c_char_p, [status]),
        "quiver_open_file": (status, [ctypes.c_char_p, ctypes.POINTER(handle)]),
        "quiver_close": (None, [handle]),
        "quiver_member_count": (size, [handle]),
        "quiver_member_at": (status, [handle, size, ctypes.POINTER(_MemberInfo)]),
        "quiver_find": (status, [handle, ctypes.c_char_p, ctypes.POINTER(size)]),
        "quiver_find_loose": (status, [handle, ctypes.c_char_p, ctypes.POINTER(size)]),
        "quiver_read": (status, [handle, size, ctypes.c_void_p, size]),
        "quiver_mounts_create": (status, [ctypes.POINTER(handle)]),
        "quiver_mount_archive": (status, [handle, ctypes.c_char_p]),
        "quiver_mount_directory": (status, [handle, ctypes.c_char_p]),
        "quiver_mounts_size": (status, [handle, ctypes.c_char_p, ctypes.POINTER(size)]),
        "quiver_mounts_read": (status, [handle, ctypes.c_char_p, ctypes.c_void_p, size]),
        "quiver_mounts_close": (None, [handle]),
        "quiver_open_source": (status, [ctypes.POINTER(_Source), ctypes.POINTER(handle)]),
        "quiver_stat": (status, [handle, ctypes.c_char_p, ctypes.POINTER(_Entry)]),
        "quiver_list": (status, [handle, ctypes.c_char_p, _Visit, ctypes.c_void_p]),
        "quiver_open_stream": (status, [handle, size, ctypes.POINTER(handle)]),
        "quiver_stream_read": (status, [handle, ctypes.c_void_p, size, ctypes.POINTER(size)]),
        "quiver_stream_seek": (status, [handle, ctypes.c_int64, ctypes.c_int,
                                        ctypes.POINTER(ctypes.c_int64)]),
        "quiver_stream_tell": (status, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "quiver_stream_size": (status, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "quiver_stream_close": (None, [handle]),
        "quiver_mount_opened": (status, [handle, handle]),
        "quiver_mounts_stat": (status, [handle, ctypes.c_char_p, ctypes.POINTER(_Entry)]),
        "quiver_mounts_list": (status, [handle, ctypes.c_char_p, _Visit, ctypes.c_void_p]),
        "quiver_mounts_open_stream": (status, [handle, ctypes.c_char_p, ctypes.POINTER(handle)]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


_lib = _load()

# A bytes object of a given size whose bytes the library writes in place:
# no zero-filling first and no copy after.
_new_bytes = ctypes.pythonapi.PyBytes_FromStringAndSize
_new_bytes.restype = ctypes.py_object
_new_bytes.argtypes = [ctypes.c_void_p, ctypes.c_ssize_t]
_bytes_address = ctypes.pythonapi.PyBytes_AsString
_bytes_address.restype = ctypes.c_void_p
_bytes_address.argtypes = [ctypes.py_object]


class Error(Exception):
    """A failure of the library; `status` is its quiver_status number."""

    def __init__(self, status, what):
        self.status = status
        self.status_name = _STATUS_NAMES.get(status, str(status))
        message = _lib.quiver_status_message(status).decode()
        super().__init__(f"{what}: {message} ({self.status_name})")


class _NotFound(Error, FileNotFoundError):
    errno = errno.ENOENT


class _NotADirectory(Error, NotADirectoryError):
    errno = errno.ENOTDIR


class _IsADirectory(Error, IsADirectoryError):
    errno = errno.EISDIR


_ERRORS = {_NOT_FOUND: _NotFound, 8: _NotADirectory, 9: _IsADirectory}


def _check(status, what):
    if status != 0:
        raise _ERRORS.get(status, Error)(status, what)


def _refuse_nul(raw, text):
    if b"\0" in raw:
        raise ValueError(f"embedded null character in {text!r}")
    return raw


def _encode(text):
    """A name as the library takes it: UTF-8, undecodable bytes kept."""
    if isinstance(text, str):
        try:
            raw = text.encode("utf-8", "surrogateescape")
        except UnicodeEncodeError as error:
            raise ValueError(f"{text!r} holds a surrogate that stands for no byte") from error
    else:
        raw = bytes(text)
    return _refuse_nul(raw, text)


def _encode_path(path):
    """A file-system path as the library takes it."""
    try:
        raw = os.fsencode(path)
    except UnicodeEncodeError as error:
        raise ValueError(f"{path!r} holds a surrogate that stands for no byte") from error
    return _refuse_nul(raw, path)


def _decode(raw):
    return raw.decode("utf-8", "surrogateescape")


def _writable(buffer, size):
    """The caller's buffer as ctypes sees it; it must hold exactly `size` bytes."""
    view = memoryview(buffer).cast("B")
    if view.readonly:
        raise TypeError("the buffer is read-only")
    if view.nbytes != size:
        raise ValueError(f"the buffer holds {view.nbytes} bytes, the member {size}")
    return (ctypes.c_char * size).from_buffer(view)


def version():
    """The library's version, such as "1.2.0"."""
    return _lib.quiver_version().decode()


class StatResult:
    """What stat() tells of a name, with the fields of os.stat_result that
    apply: st_mode (stat.S_ISDIR and stat.S_ISREG work on it) and st_size;
    and compressed, mount (the mount it comes from, 0 the first mounted)
    and index (a member's index in its archive, or None)."""

    def __init__(self, entry):
        directory = bool(entry.directory)
        self.st_mode = (_stat.S_IFDIR | 0o555) if directory else (_stat.S_IFREG | 0o444)
        self.st_size = entry.size
        self.compressed = bool(entry.compressed)
        self.mount = entry.mount
        self.index = None if entry.index == _NO_INDEX else entry.index

    def __repr__(self):
        return (f"quiver.StatResult(st_mode={self.st_mode:#o}, st_size={self.st_size}, "
                f"compressed={self.compressed}, mount={self.mount}, index={self.index})")


def _listing(list_function, handle, directory):
    """The entries directly below `directory`: (name, is a directory)."""
    entries = []

    def visit(_, entry):
        entries.append((_decode(entry.contents.name), bool(entry.contents.directory)))
        return 1

    _check(list_function(handle, _encode(directory), _Visit(visit), None), directory)
    return entries


def _walk(listing, top, topdown):
    """os.walk over a listing function; directories joined with "/"."""
    entries = listing(top)
    dirnames = [name for name, directory in entries if directory]
    filenames = [name for name, directory in entries if not directory]
    if topdown:
        yield top, dirnames, filenames
    base = top.rstrip("/\\")
    for name in dirnames:
        yield from _walk(listing, f"{base}/{name}" if base else name, topdown)
    if not topdown:
        yield top, dirnames, filenames


# Sources of open archives, kept alive until the library closes them.
_sources = {}
_sources_lock = threading.Lock()


def _source_of(file):
    """A quiver_source that reads a binary file object of the caller's,
    which stays open, from any thread."""
    lock = threading.Lock()

    def read(_, offset, buffer, size):
        try:
            view = memoryview((ctypes.c_char * size).from_address(buffer)).cast("B")
            done = 0
            with lock:
                file.seek(offset)
                while done < size:
                    got = file.readinto(view[done:])
                    if not got:
                        break
                    done += got
            return done
        except Exception:  # the library sees a failed read, never an exception
            return -1

    def close(key):
        with _sources_lock:
            _sources.pop(key, None)

    with lock:
        size = file.seek(0, io.SEEK_END)
    source = _Source(_SourceRead(read), size, _SourceClose(close), None)
    with _sources_lock:
        key = id(source)
        source.user = key
        _sources[key] = source
    return source


class _Handle:
    """A library handle shared by threads: close() frees it once no call is
    using it, and calls after close() raise ValueError."""

    def __init__(self, free, what):
        self.value = ctypes.c_void_p()
        self._free = free
        self._what = what
        self._users = 0
        self._closed = False
        self._idle = threading.Condition()

    def __enter__(self):
        with self._idle:
            if self._closed or not self.value:
                raise ValueError(f"the {self._what} is closed")
            self._users += 1
        return self.value

    def __exit__(self, *exc):
        with self._idle:
            self._users -= 1
            if self._users == 0:
                self._idle.notify_all()

    def close(self):
        with self._idle:
            self._closed = True
            self._idle.wait_for(lambda: self._users == 0)
            value, self.value = self.value, ctypes.c_void_p()
        if value:
            self._free(value)


class Stream(io.RawIOBase):
    """A member open for reading: a binary file object that reads and seeks
    (io.BufferedReader takes it too). Seeking past the end is allowed and
    reads there give b""; before the start raises ValueError, as io.BytesIO
    does. It keeps its archive open."""

    def __init__(self, name):
        super().__init__()
        self.name = name
        self.mode = "rb"
        self._handle = _Handle(_lib.quiver_stream_close, "stream")

    def readable(self):
        return True

    def seekable(self):
        return True

    def readinto(self, buffer):
        view = memoryview(buffer).cast("B")
        if view.nbytes == 0:
            return 0
        got = ctypes.c_size_t()
        with self._handle as handle:
            target = _writable(view, view.nbytes)
            _check(_lib.quiver_stream_read(handle, target, view.nbytes, ctypes.byref(got)),
                   self.name)
        return got.value

    def readall(self):
        # A byte at least: a read at the end is what checks an empty member.
        wanted = max(self.size - self.tell(), 1)
        data = _new_bytes(None, wanted)
        got = ctypes.c_size_t()
        with self._handle as handle:
            _check(_lib.quiver_stream_read(handle, _bytes_address(data), wanted, ctypes.byref(got)),
                   self.name)
        return data if got.value == wanted else data[:got.value]

    def seek(self, offset, whence=io.SEEK_SET):
        position = ctypes.c_int64()
        with self._handle as handle:
            status = _lib.quiver_stream_seek(handle, offset, whence, ctypes.byref(position))
        if status == _ARGUMENT:
            raise ValueError(f"cannot seek to {offset} from {whence}")
        _check(status, self.name)
        return position.value

    def tell(self):
        position = ctypes.c_int64()
        with self._handle as handle:
            _check(_lib.quiver_stream_tell(handle, ctypes.byref(position)), self.name)
        return position.value

    @property
    def size(self):
        """The member's length in bytes."""
        size = ctypes.c_int64()
        with self._handle as handle:
            _check(_lib.quiver_stream_size(handle, ctypes.byref(size)), self.name)
        return size.value

    def close(self):
        if not self.closed:
            self._handle.close()
        super().close()


def _opened_stream(name, open_function):
    stream = Stream(name)
    _check(open_function(ctypes.byref(stream._handle.value)), name)
    return stream


class Archive:
    """An open archive; a context manager that closes it. `path` is the
    archive's path, or a binary file object open for reading that can seek
    (io.BytesIO, a member of another archive opened with open()), which the
    caller keeps open for as long as the archive and its streams are."""

    def __init__(self, path):
        self._handle = _Handle(_lib.quiver_close, "archive")
        if hasattr(path, "readinto") and hasattr(path, "seek"):
            _check(_lib.quiver_open_source(ctypes.byref(_source_of(path)),
                                           ctypes.byref(self._handle.value)), "source")
            return
        _check(_lib.quiver_open_file(_encode_path(path), ctypes.byref(self._handle.value)),
               str(path))

    def close(self):
        self._handle.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if hasattr(self, "_handle"):
            self.close()

    def names(self):
        """Every member's name, in table order."""
        with self._handle as handle:
            return [_decode(self._member(handle, index).name)
                    for index in range(_lib.quiver_member_count(handle))]

    def _member(self, handle, index):
        if not 0 <= index < _lib.quiver_member_count(handle):
            raise IndexError(f"no member {index}")
        info = _MemberInfo()
        _check(_lib.quiver_member_at(handle, index, ctypes.byref(info)), "member")
        return info

    def _find(self, handle, name):
        index = ctypes.c_size_t()
        _check(_lib.quiver_find(handle, _encode(name), ctypes.byref(index)), name)
        return index.value

    def read(self, name):
        """The bytes of the first member with exactly this name."""
        with self._handle as handle:
            index = self._find(handle, name)
            size = self._member(handle, index).original_length
            data = _new_bytes(None, size)
            _check(_lib.quiver_read(handle, index, _bytes_address(data), size), name)
            return data

    def readinto(self, name, buffer):
        """Reads that member into `buffer`, writable and of exactly its size;
        returns the size."""
        with self._handle as handle:
            index = self._find(handle, name)
            size = self._member(handle, index).original_length
            _check(_lib.quiver_read(handle, index, _writable(buffer, size), size), name)
            return size

    def find_loose(self, name):
        """The stored name that `name` matches case-blind and separator-blind, or None."""
        with self._handle as handle:
            index = ctypes.c_size_t()
            status = _lib.quiver_find_loose(handle, _encode(name), ctypes.byref(index))
            if status == _NOT_FOUND:
                return None
            _check(status, name)
            return _decode(self._member(handle, index.value).name)

    def stat(self, name):
        """What `name` is, looked up loosely: a member, else a directory
        that members' names begin with."""
        entry = _Entry()
        with self._handle as handle:
            _check(_lib.quiver_stat(handle, _encode(name), ctypes.byref(entry)), name)
        return StatResult(entry)

    def open(self, name):
        """The member `name` names (as stat() finds it) as a Stream."""
        entry = _Entry()
        with self._handle as handle:
            _check(_lib.quiver_stat(handle, _encode(name), ctypes.byref(entry)), name)
            if entry.directory:
                _check(9, name)
            return _opened_stream(name, lambda out: _lib.quiver_open_stream(handle, entry.index,
                                                                           out))

    def listdir(self, path=""):
        """The names directly below the directory `path`, in the library's
        order: byte order with ASCII letters lower-cased."""
        with self._handle as handle:
            return [name for name, _ in _listing(_lib.quiver_list, handle, path)]

    def walk(self, top="", topdown=True):
        """As os.walk: (dirpath, dirnames, filenames) for `top` and every
        directory below it."""
        def listing(directory):
            with self._handle as handle:
                return _listing(_lib.quiver_list, handle, directory)

        return _walk(listing, top, topdown)


class Mounts:
    """Archives and directories seen as one; the last mount that has a name
    wins. A context manager that closes them."""

    def __init__(self):
        self._handle = _Handle(_lib.quiver_mounts_close, "mounts")
        _check(_lib.quiver_mounts_create(ctypes.byref(self._handle.value)), "mounts")

    def close(self):
        self._handle.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if hasattr(self, "_handle"):
            self.close()

    def mount_archive(self, path):
        """Mounts the archive at `path`, or an Archive already open, which
        may be closed afterwards."""
        with self._handle as handle:
            if isinstance(path, Archive):
                with path._handle as archive:
                    _check(_lib.quiver_mount_opened(handle, archive), "archive")
                return
            _check(_lib.quiver_mount_archive(handle, _encode_path(path)), str(path))

    def mount_directory(self, path):
        with self._handle as handle:
            _check(_lib.quiver_mount_directory(handle, _encode_path(path)), str(path))

    def _size(self, handle, raw, name):
        size = ctypes.c_size_t()
        _check(_lib.quiver_mounts_size(handle, raw, ctypes.byref(size)), name)
        return size.value

    def read(self, name):
        """The bytes `name` reads as, looked up loosely from the last mount back."""
        raw = _encode(name)
        with self._handle as handle:
            size = self._size(handle, raw, name)
            data = _new_bytes(None, size)
            _check(_lib.quiver_mounts_read(handle, raw, _bytes_address(data), size), name)
            return data

    def readinto(self, name, buffer):
        """Reads what `name` reads as into `buffer`, writable and of exactly
        its size; returns the size."""
        raw = _encode(name)
        with self._handle as handle:
            size = self._size(handle, raw, name)
            _check(_lib.quiver_mounts_read(handle, raw, _writable(buffer, size), size), name)
            return size

    def stat(self, name):
        """What `name` is in the union of the mounts: a file of the last
        mount that has one, else a directory."""
        entry = _Entry()
        with self._handle as handle:
            _check(_lib.quiver_mounts_stat(handle, _encode(name), ctypes.byref(entry)), name)
        return StatResult(entry)

    def open(self, name):
        """What `name` reads as, as a Stream."""
        raw = _encode(name)
        with self._handle as handle:
            return _opened_stream(name,
                                  lambda out: _lib.quiver_mounts_open_stream(handle, raw, out))

    def listdir(self, path=""):
        """The names directly below `path` in any mount, each once."""
        with self._handle as handle:
            return [name for name, _ in _listing(_lib.quiver_mounts_list, handle, path)]

    def walk(self, top="", topdown=True):
        """As os.walk, over the union of the mounts."""
        def listing(directory):
            with self._handle as handle:
                return _listing(_lib.quiver_mounts_list, handle, directory)

        return _walk(listing, top, topdown)
