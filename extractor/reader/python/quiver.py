"""Reading members straight from .qvr archives, through the quiver library.

    import quiver
    with quiver.Archive("game.qvr") as archive:
        for name in archive.names():
            data = archive.read(name)

    mounts = quiver.Mounts()
    mounts.mount_archive("base.qvr")
    mounts.mount_archive("patch.qvr")      # mounted later: wins
    mounts.mount_directory("assets")       # loose files during development
    level = mounts.read("maps/level1.map")  # case and separator forgiven

Names are str; bytes of a stored name that are not UTF-8 are kept with
surrogateescape, so every name read can be given back. Failures raise
quiver.Error, whose status is the library's quiver_status. The library is
libquiver.so.1, or the file named by the QUIVER_LIBRARY environment variable.
"""
import ctypes
import os

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


def _encode(text):
    """A name or path as the library takes it: UTF-8, undecodable bytes kept."""
    return text.encode("utf-8", "surrogateescape") if isinstance(text, str) else bytes(text)


def _decode(raw):
    return raw.decode("utf-8", "surrogateescape")


def version():
    """The library's version, such as "1.1.0"."""
    return _lib.quiver_version().decode()


class Archive:
    """An open archive; a context manager that closes it."""

    def __init__(self, path):
        self._handle = ctypes.c_void_p()
        _check(_lib.quiver_open_file(_encode(path), ctypes.byref(self._handle)), str(path))

    def close(self):
        if self._handle:
            _lib.quiver_close(self._handle)
            self._handle = ctypes.c_void_p()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()

    def _open(self):
        if not self._handle:
            raise ValueError("the archive is closed")
        return self._handle

    def names(self):
        """Every member's name, in table order."""
        return [_decode(self._member(index).name)
                for index in range(_lib.quiver_member_count(self._open()))]

    def _member(self, index):
        info = _MemberInfo()
        _check(_lib.quiver_member_at(self._open(), index, ctypes.byref(info)), "member")
        return info

    def _read_index(self, index, what):
        handle = self._open()
        info = self._member(index)
        buffer = ctypes.create_string_buffer(info.original_length)
        _check(_lib.quiver_read(handle, index, buffer, info.original_length), what)
        return buffer.raw

    def read(self, name):
        """The bytes of the first member with exactly this name."""
        index = ctypes.c_size_t()
        _check(_lib.quiver_find(self._open(), _encode(name), ctypes.byref(index)), name)
        return self._read_index(index.value, name)

    def find_loose(self, name):
        """The stored name that `name` matches case-blind and separator-blind, or None."""
        index = ctypes.c_size_t()
        status = _lib.quiver_find_loose(self._open(), _encode(name), ctypes.byref(index))
        if status == 3:
            return None
        _check(status, name)
        return _decode(self._member(index.value).name)


class Mounts:
    """Archives and directories seen as one; the last mount that has a name wins."""

    def __init__(self):
        self._handle = ctypes.c_void_p()
        _check(_lib.quiver_mounts_create(ctypes.byref(self._handle)), "mounts")

    def __del__(self):
        if self._handle:
            _lib.quiver_mounts_close(self._handle)
            self._handle = ctypes.c_void_p()

    def mount_archive(self, path):
        _check(_lib.quiver_mount_archive(self._handle, _encode(path)), str(path))

    def mount_directory(self, path):
        _check(_lib.quiver_mount_directory(self._handle, _encode(path)), str(path))

    def read(self, name):
        """The bytes `name` reads as, looked up loosely from the last mount back."""
        raw = _encode(name)
        size = ctypes.c_size_t()
        _check(_lib.quiver_mounts_size(self._handle, raw, ctypes.byref(size)), name)
        buffer = ctypes.create_string_buffer(size.value)
        _check(_lib.quiver_mounts_read(self._handle, raw, buffer, size.value), name)
        return buffer.raw
