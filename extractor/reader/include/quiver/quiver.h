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

typedef enum quiver_status {
  QUIVER_OK = 0,
  QUIVER_ERROR_OPEN,          /* the file could not be opened or mapped */
  QUIVER_ERROR_DAMAGED,       /* not a sound archive, or its bytes could not be read */
  QUIVER_ERROR_NOT_FOUND,     /* no member, or no mount, has that name */
  QUIVER_ERROR_DECOMPRESSION, /* a compressed member's stream is damaged */
  QUIVER_ERROR_ARGUMENT,      /* a null or out-of-range argument, or a buffer of the wrong size */
  QUIVER_ERROR_MEMORY,        /* memory ran out */
  QUIVER_ERROR_COMPRESSED     /* a view of a member stored compressed */
} quiver_status;

typedef struct quiver_member_info {
  const char* name; /* valid while the archive is open */
  uint32_t original_length;
  uint32_t stored_length; /* bytes in the archive */
  int compressed;         /* 1 when stored compressed */
} quiver_member_info;

/* "1.1.0" or later. */
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
/* Null is allowed. */
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

/* Archives and directories seen as one: a name is looked up loosely from the
 * last mount added to the first, and the first that has it wins. A mounted
 * directory serves the file at that relative path; a name that would leave
 * it, or lead through a symbolic link in it, is QUIVER_ERROR_NOT_FOUND and
 * is never opened. */
QUIVER_C_API quiver_status quiver_mounts_create(quiver_mounts** mounts);
QUIVER_C_API quiver_status quiver_mount_archive(quiver_mounts* mounts, const char* path);
QUIVER_C_API quiver_status quiver_mount_directory(quiver_mounts* mounts, const char* path);
QUIVER_C_API quiver_status quiver_mounts_size(const quiver_mounts* mounts, const char* name,
                                              size_t* size);
QUIVER_C_API quiver_status quiver_mounts_read(const quiver_mounts* mounts, const char* name,
                                              void* buffer, size_t size);
/* Null is allowed. */
QUIVER_C_API void quiver_mounts_close(quiver_mounts* mounts);

#ifdef __cplusplus
}
#endif

#endif
