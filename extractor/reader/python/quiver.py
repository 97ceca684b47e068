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

Names are str (or bytes); bytes of a stored name that are not UTF-8 are kept
with surrogateescape, so every name read can be given back. A name or path
with a NUL character, or with a surrogate that stands for no byte, raises
ValueError, as open() does. Failures of the library raise quiver.Error,
whose status is the library's quiver_status. An archive or mounts object may
be shared by threads; close() waits for the calls in flight, and calls after
it raise ValueError. The library is libquiver.so.1, or the file named by the
QUIVER_LIBRARY environment variable.
"""
import ctypes
import os
import threading

__all__ = ["Archive", "Mounts", "Error"]

_STATUS_NAMES = {
    0: "QUIVER_OK",
    1: "QUIVER_ERROR_OPEN",
    2: "QUIVER_ERROR_DAMAGED",
    3: "QUIVER_ERROR_NOT_FOUND",
    4: "QUIVER_ERROR_DECOMPRESSION",
    5: "QUIVER_ERROR_ARGUMENT",
    6: "QUIVER_ERROR_MEMORY",
    7: "QUIVER_ERROR_COMPRESSED",
}
_NOT_FOUND = 3


class _MemberInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("original_length", ctypes.c_uint32),
                ("stored_length", ctypes.c_uint32), ("compressed", ctypes.c_int)]


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


def _check(status, what):
    if status != 0:
        raise Error(status, what)


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
    """The library's version, such as "1.1.0"."""
    return _lib.quiver_version().decode()


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


class Archive:
    """An open archive; a context manager that closes it."""

    def __init__(self, path):
        self._handle = _Handle(_lib.quiver_close, "archive")
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
        with self._handle as handle:
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
