/* Reading members straight from .qvr archives: the C interface, for C
 * programs and for every language that binds C (C99; usable from C++).
 *
 * Every function that can fail returns a quiver_status; none prints, aborts
 * or ends the process. A null or out-of-range argument is
 * QUIVER_ERROR_ARGUMENT. Reads of one open archive, or of mounts once
 * mounting is done, may run on several threads at once. */
#ifndef QUIVER_QUIVER_H
#define QUIVER_QUIVER_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(QUIVER_SHARED_BUILD)
#define QUIVER_C_API __declspec(dllexport)
#elif defined(__GNUC__)
#define QUIVER_C_API __attribute__((visibility("default")))
#else
#define QUIVER_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct quiver_archive quiver_archive;
typedef struct quiver_mounts quiver_mounts;
typedef struct quiver_stream quiver_stream;

typedef enum quiver_status {
  QUIVER_OK = 0,
  QUIVER_ERROR_OPEN,          /* the file could not be opened or mapped */
  QUIVER_ERROR_DAMAGED,       /* not a sound archive, or its bytes could not be read */
  QUIVER_ERROR_NOT_FOUND,     /* no member, or no mount, has that name */
  QUIVER_ERROR_DECOMPRESSION, /* a compressed member's stream is damaged */
  QUIVER_ERROR_ARGUMENT,      /* a null or out-of-range argument, or a buffer of the wrong size */
  QUIVER_ERROR_MEMORY,        /* memory ran out */
  QUIVER_ERROR_COMPRESSED,    /* a view of a member stored compressed */
  QUIVER_ERROR_NOT_DIRECTORY, /* a listing of a name that is a file */
  QUIVER_ERROR_IS_DIRECTORY   /* a stream opened on a directory */
} quiver_status;

typedef struct quiver_member_info {
  const char* name; /* valid while the archive is open */
  uint32_t original_length;
  uint32_t stored_length; /* bytes in the archive */
  int compressed;         /* 1 when stored compressed */
} quiver_member_info;

/* What a stat tells of a name, and a listing of each entry. */
typedef struct quiver_entry {
  const char* name; /* the entry's own name as stored; NULL from a stat */
  /* The listed directory as named, then the names down to the entry, "/"
   * between each; NULL from a stat. Both are valid during the call. */
  const char* path;
  int directory; /* 1 for a directory */
  uint64_t size; /* a file's length; 0 for a directory */
  int compressed;
  size_t index; /* a member's index in its archive, else QUIVER_NO_INDEX */
  size_t mount; /* through mounts: the mount, 0 the first mounted */
} quiver_entry;

#define QUIVER_NO_INDEX SIZE_MAX

/* Called for each entry of a listing; 0 stops it (the listing then gives
 * QUIVER_OK), anything else goes on. */
typedef int (*quiver_visit)(void* user, const quiver_entry* entry);

/* An archive that only its owner can read (a package, a bundle, a cache).
 * read gives up to `size` bytes at `offset`: how many (fewer only at the
 * end), or -1 on a failure; it may be called from several threads at once.
 * close, which may be NULL, is called once when the library is done with
 * the source: when quiver_open_source fails, or once the archive, its
 * streams and the mounts that hold it are all closed. */
typedef struct quiver_source {
  int64_t (*read)(void* user, int64_t offset, void* buffer, size_t size);
  int64_t size; /* of the archive, in bytes */
  void (*close)(void* user);
  void* user;
} quiver_source;

/* "1.2.0" or later. */
QUIVER_C_API const char* quiver_version(void);
/* A sentence for a status, never null. */
QUIVER_C_API const char* quiver_status_message(quiver_status status);

/* Opens and checks the archive at `path` (extension included), read
 * through its file, or mapped into memory read-only (a program truncating
 * the file while it is mapped makes a later read fault), or from `size`
 * bytes of the caller's, which must outlive it. */
QUIVER_C_API quiver_status quiver_open_file(const char* path, quiver_archive** archive);
QUIVER_C_API quiver_status quiver_open_mapped(const char* path, quiver_archive** archive);
QUIVER_C_API quiver_status quiver_open_memory(const void* data, size_t size,
                                              quiver_archive** archive);
QUIVER_C_API quiver_status quiver_open_source(const quiver_source* source,
                                              quiver_archive** archive);
/* Null is allowed. An archive may be closed while streams or mounts still
 * use it: they keep it open. */
QUIVER_C_API void quiver_close(quiver_archive* archive);

/* Members in table order; 0 for a null archive. */
QUIVER_C_API size_t quiver_member_count(const quiver_archive* archive);
QUIVER_C_API quiver_status quiver_member_at(const quiver_archive* archive, size_t index,
                                            quiver_member_info* info);
/* The first member in table order with exactly this name. */
QUIVER_C_API quiver_status quiver_find(const quiver_archive* archive, const char* name,
                                       size_t* index);
/* ASCII letters case-blind, "\" and "/" as one separator: an exact match
 * when there is one, else the first match in table order. */
QUIVER_C_API quiver_status quiver_find_loose(const quiver_archive* archive, const char* name,
                                             size_t* index);
/* Into a buffer of exactly original_length bytes. */
QUIVER_C_API quiver_status quiver_read(const quiver_archive* archive, size_t index, void* buffer,
                                       size_t size);
/* A stored member's bytes without a copy, valid while the archive is open,
 * for archives opened mapped or from memory (else QUIVER_ERROR_ARGUMENT);
 * a compressed member is QUIVER_ERROR_COMPRESSED. */
QUIVER_C_API quiver_status quiver_view(const quiver_archive* archive, size_t index,
                                       const void** data, size_t* size);

/* Names are paths, "\" and "/" alike between directories; a directory is
 * what members' names begin with. A stat gives a file if quiver_find_loose
 * finds one by that name (or by it with empty components left out), else
 * a directory, else QUIVER_ERROR_NOT_FOUND. A listing gives the entries
 * directly below a directory ("" or "/" for the top), each once, in the
 * byte order of their names with ASCII letters lower-cased: names that
 * differ only in case are one entry, the first member in table order, and
 * a member hides a directory of its name. Members whose names are not
 * relative paths of plain components are in no listing. A walk gives every
 * entry below a directory, each subdirectory's entries right after it. */
QUIVER_C_API quiver_status quiver_stat(const quiver_archive* archive, const char* name,
                                       quiver_entry* entry);
QUIVER_C_API quiver_status quiver_list(const quiver_archive* archive, const char* directory,
                                       quiver_visit visit, void* user);
QUIVER_C_API quiver_status quiver_walk(const quiver_archive* archive, const char* directory,
                                       quiver_visit visit, void* user);

/* A member as a stream: read and sought like a file. A stored member is
 * read where it lies; a compressed one is decoded as it is read, keeping a
 * checkpoint for every 1 MiB decoded, so a read anywhere it has been
 * decodes at most 1 MiB first. A stream's calls may come from several
 * threads, which take turns; quiver_stream_close must come last. Reads give
 * fewer bytes than asked only at the end: `got` is 0 at or past it. A read
 * that reaches damage in a member gives the status quiver_read gives. */
QUIVER_C_API quiver_status quiver_open_stream(const quiver_archive* archive, size_t index,
                                              quiver_stream** stream);
QUIVER_C_API quiver_status quiver_stream_read(quiver_stream* stream, void* buffer, size_t size,
                                              size_t* got);
/* At `position`, without moving the stream's position. */
QUIVER_C_API quiver_status quiver_stream_read_at(quiver_stream* stream, int64_t position,
                                                 void* buffer, size_t size, size_t* got);
#define QUIVER_SEEK_SET 0
#define QUIVER_SEEK_CUR 1
#define QUIVER_SEEK_END 2
/* Past the end is allowed, and reads there give 0 bytes; before the start
 * is QUIVER_ERROR_ARGUMENT and the position stays. `position`, which may
 * be NULL, receives the new position. */
QUIVER_C_API quiver_status quiver_stream_seek(quiver_stream* stream, int64_t offset, int whence,
                                              int64_t* position);
QUIVER_C_API quiver_status quiver_stream_tell(const quiver_stream* stream, int64_t* position);
QUIVER_C_API quiver_status quiver_stream_size(const quiver_stream* stream, int64_t* size);
/* Null is allowed. */
QUIVER_C_API void quiver_stream_close(quiver_stream* stream);

/* Archives and directories seen as one: a name is looked up loosely from the
 * last mount added to the first, and the first that has it wins. A mounted
 * directory serves the file at that relative path; a name that would leave
 * it, or lead through a symbolic link in it, is QUIVER_ERROR_NOT_FOUND and
 * is never opened. */
QUIVER_C_API quiver_status quiver_mounts_create(quiver_mounts** mounts);
QUIVER_C_API quiver_status quiver_mount_archive(quiver_mounts* mounts, const char* path);
QUIVER_C_API quiver_status quiver_mount_directory(quiver_mounts* mounts, const char* path);
/* An archive already open, of any kind, mounted after the others; it may
 * be closed afterwards. */
QUIVER_C_API quiver_status quiver_mount_opened(quiver_mounts* mounts,
                                               const quiver_archive* archive);
QUIVER_C_API quiver_status quiver_mounts_size(const quiver_mounts* mounts, const char* name,
                                              size_t* size);
QUIVER_C_API quiver_status quiver_mounts_read(const quiver_mounts* mounts, const char* name,
                                              void* buffer, size_t size);
/* As for an archive, over the union of the mounts: a listing holds each
 * name once, a file from the last mount that has one, else a directory. A
 * stream of a directory is QUIVER_ERROR_IS_DIRECTORY. */
QUIVER_C_API quiver_status quiver_mounts_stat(const quiver_mounts* mounts, const char* name,
                                              quiver_entry* entry);
QUIVER_C_API quiver_status quiver_mounts_list(const quiver_mounts* mounts, const char* directory,
                                              quiver_visit visit, void* user);
QUIVER_C_API quiver_status quiver_mounts_walk(const quiver_mounts* mounts, const char* directory,
                                              quiver_visit visit, void* user);
QUIVER_C_API quiver_status quiver_mounts_open_stream(const quiver_mounts* mounts, const char* name,
                                                     quiver_stream** stream);
/* Null is allowed. Streams opened through the mounts stay open. */
QUIVER_C_API void quiver_mounts_close(quiver_mounts* mounts);

#ifdef __cplusplus
}
#endif

#endif
