/* The C interface from C99: c_reader BASE PATCH DIRECTORY prints what each
 * call gives on a stored base archive, a compressed patch archive mounted
 * over it, and a directory mounted over both. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quiver/quiver.h"

static void Say(const char* what, quiver_status status) {
  printf("%s: %d %s\n", what, (int)status, quiver_status_message(status));
}

/* The mounts' view of `name`: its size and first bytes, or the failure. */
static void ReadMounted(const quiver_mounts* mounts, const char* name) {
  size_t size = 0;
  quiver_status status = quiver_mounts_size(mounts, name, &size);
  char* buffer;
  if (status != QUIVER_OK) {
    Say(name, status);
    return;
  }
  buffer = malloc(size + 1);
  status = quiver_mounts_read(mounts, name, buffer, size);
  buffer[status == QUIVER_OK ? size : 0] = '\0';
  printf("%s: %lu bytes \"%.12s\"\n", name, (unsigned long)size, buffer);
  free(buffer);
}

static void Archive(const char* path) {
  quiver_archive* archive = NULL;
  quiver_member_info info;
  size_t index = 99;
  const void* data = NULL;
  size_t size = 0;
  char small[4];
  Say("open_file", quiver_open_file(path, &archive));
  printf("members: %lu\n", (unsigned long)quiver_member_count(archive));
  Say("find exact", quiver_find(archive, "maps\\level1.map", &index));
  Say("find wrong case", quiver_find(archive, "MAPS/LEVEL1.MAP", &index));
  Say("find_loose", quiver_find_loose(archive, "MAPS/LEVEL1.MAP", &index));
  Say("member_at", quiver_member_at(archive, index, &info));
  printf("%s %lu %lu %d\n", info.name, (unsigned long)info.original_length,
         (unsigned long)info.stored_length, info.compressed);
  Say("read short buffer", quiver_read(archive, index, small, sizeof small));
  Say("member_at past the end", quiver_member_at(archive, 1000, &info));
  Say("view of a file-opened archive", quiver_view(archive, index, &data, &size));
  quiver_close(archive);
  Say("open_mapped", quiver_open_mapped(path, &archive));
  quiver_find(archive, "maps\\level1.map", &index);
  Say("view", quiver_view(archive, index, &data, &size));
  printf("viewed %lu bytes\n", (unsigned long)size);
  quiver_close(archive);
}

/* A sound table of 200,000 empty records, opened where the test leaves
 * too little memory to hold a copy of it. */
static int OutOfMemory(void) {
  const size_t count = 200000;
  const size_t size = 16 + 272 * count;
  unsigned char* image = calloc(size, 1);
  quiver_archive* archive = NULL;
  if (image == NULL) return 1;
  image[0] = (unsigned char)count;
  image[1] = (unsigned char)(count >> 8);
  image[2] = (unsigned char)(count >> 16);
  Say("open_memory without room", quiver_open_memory(image, size, &archive));
  free(image);
  return 0;
}

/* One compressed member of 4 bytes whose stream stops before its end token. */
static void DamagedStream(void) {
  static const unsigned char stream[5] = {0xB0, 0xD8, 0x6C, 0x36, 0x10};
  unsigned char image[16 + 272 + 5];
  quiver_archive* archive = NULL;
  char out[4];
  memset(image, 0, sizeof image);
  image[0] = 1;      /* count */
  image[4] = 1;      /* compressed */
  image[16 + 4] = 4; /* original length */
  image[16 + 8] = (16 + 272) & 0xFF;
  image[16 + 9] = (16 + 272) >> 8; /* data offset */
  image[16 + 12] = 5;              /* compressed length */
  image[16 + 16] = 'v';            /* name */
  memcpy(image + 16 + 272, stream, sizeof stream);
  Say("open_memory damaged stream", quiver_open_memory(image, sizeof image, &archive));
  Say("read damaged stream", quiver_read(archive, 0, out, sizeof out));
  quiver_close(archive);
}

/* Prints each listed entry: its path, "/" or its size, and its mount. */
static int PrintEntry(void* user, const quiver_entry* entry) {
  int* left = (int*)user;
  if (entry->directory)
    printf("  %s/ @%lu\n", entry->path, (unsigned long)entry->mount);
  else
    printf("  %s %lu%s @%lu\n", entry->path, (unsigned long)entry->size,
           entry->compressed ? "c" : "", (unsigned long)entry->mount);
  return --*left > 0;
}

static void Stat(const char* what, quiver_status status, const quiver_entry* entry) {
  if (status != QUIVER_OK) {
    Say(what, status);
    return;
  }
  printf("%s: %s %lu index %s\n", what, entry->directory ? "directory" : "file",
         (unsigned long)entry->size, entry->index == QUIVER_NO_INDEX ? "none" : "a member");
}

/* A stream read in pieces of 5 bytes, then sought about. */
static void Streamed(quiver_stream* stream) {
  char all[256];
  char piece[5];
  size_t got = 0;
  size_t total = 0;
  int64_t position = 0;
  int64_t size = 0;
  quiver_stream_size(stream, &size);
  while (quiver_stream_read(stream, piece, sizeof piece, &got) == QUIVER_OK && got > 0 &&
         total + got <= sizeof all) {
    memcpy(all + total, piece, got);
    total += got;
  }
  printf("streamed %lu of %ld bytes: \"%.12s\"\n", (unsigned long)total, (long)size, all);
  Say("seek 4 before the end", quiver_stream_seek(stream, -4, QUIVER_SEEK_END, &position));
  quiver_stream_read(stream, piece, sizeof piece, &got);
  printf("at %ld: %lu bytes \"%.*s\"\n", (long)position, (unsigned long)got, (int)got, piece);
  Say("seek past the end", quiver_stream_seek(stream, 1000, QUIVER_SEEK_CUR, &position));
  Say("read there", quiver_stream_read(stream, piece, 1, &got));
  printf("%lu bytes\n", (unsigned long)got);
  Say("seek before the start", quiver_stream_seek(stream, -1, QUIVER_SEEK_SET, NULL));
  Say("seek from nowhere", quiver_stream_seek(stream, 0, 7, NULL));
  quiver_stream_tell(stream, &position);
  printf("still at %ld\n", (long)position);
  Say("read_at 2", quiver_stream_read_at(stream, 2, piece, 3, &got));
  printf("got \"%.*s\"\n", (int)got, piece);
}

/* An archive in the caller's memory, read through callbacks that fail
 * once `failing` is set, and that count the closes. */
struct Memory {
  const unsigned char* bytes;
  size_t size;
  int failing;
  int closes;
};

static int64_t ReadMemory(void* user, int64_t offset, void* buffer, size_t size) {
  struct Memory* memory = (struct Memory*)user;
  size_t left = memory->size - (size_t)offset;
  if (memory->failing) return -1;
  if (size > left) size = left;
  memcpy(buffer, memory->bytes + offset, size);
  return (int64_t)size;
}

static void CloseMemory(void* user) {
  ++((struct Memory*)user)->closes;
}

static unsigned char* ReadFile(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  unsigned char* bytes = malloc(1 << 16);
  *size = fread(bytes, 1, 1 << 16, file);
  fclose(file);
  return bytes;
}

/* The patch read through `memory`, streamed, and mounted. */
static void Source(const char* patch, quiver_mounts* mounts, struct Memory* memory) {
  quiver_source source;
  quiver_archive* archive = NULL;
  quiver_stream* stream = NULL;
  char bytes[144];
  size_t got = 0;
  memory->bytes = ReadFile(patch, &memory->size);
  source.read = ReadMemory;
  source.size = (int64_t)memory->size;
  source.close = CloseMemory;
  source.user = memory;
  Say("open_source", quiver_open_source(&source, &archive));
  Say("open_stream", quiver_open_stream(archive, 0, &stream));
  memory->failing = 1;
  Say("read of a failing source", quiver_stream_read(stream, bytes, sizeof bytes, &got));
  memory->failing = 0;
  Say("read once it works", quiver_stream_read(stream, bytes, sizeof bytes, &got));
  printf("%lu bytes \"%.12s\"\n", (unsigned long)got, bytes);
  Say("mount_opened", quiver_mount_opened(mounts, archive));
  quiver_close(archive);
  quiver_stream_close(stream);
  printf("closed %d times while mounted\n", memory->closes);
  memory->failing = 1;
  Say("open_source failing", quiver_open_source(&source, &archive));
  printf("closed %d times\n", memory->closes);
  memory->failing = 0;
}

static void FileSystem(const char* base, const char* patch, const char* directory) {
  quiver_archive* archive = NULL;
  quiver_mounts* mounts = NULL;
  quiver_stream* stream = NULL;
  quiver_entry entry;
  struct Memory memory = {NULL, 0, 0, 0};
  int left = 100;
  quiver_open_file(base, &archive);
  Say("list", quiver_list(archive, "", PrintEntry, &left));
  left = 1;
  Say("walk stopped after one", quiver_walk(archive, "/", PrintEntry, &left));
  Say("list a file", quiver_list(archive, "README.TXT", PrintEntry, &left));
  Stat("stat MAPS", quiver_stat(archive, "MAPS", &entry), &entry);
  Stat("stat maps/level1.map", quiver_stat(archive, "maps/level1.map", &entry), &entry);
  Stat("stat maps/none", quiver_stat(archive, "maps/none", &entry), &entry);
  Say("open_stream past the end", quiver_open_stream(archive, 2, &stream));
  quiver_open_stream(archive, 0, &stream);
  quiver_close(archive);
  Streamed(stream);
  quiver_stream_close(stream);
  quiver_stream_close(NULL);

  quiver_mounts_create(&mounts);
  quiver_mount_archive(mounts, base);
  quiver_mount_directory(mounts, directory);
  Source(patch, mounts, &memory);
  left = 100;
  Say("mounts_walk", quiver_mounts_walk(mounts, "", PrintEntry, &left));
  Stat("mounts_stat readme.txt", quiver_mounts_stat(mounts, "readme.txt", &entry), &entry);
  Say("mounts_open_stream of a directory", quiver_mounts_open_stream(mounts, "maps", &stream));
  Say("mounts_open_stream", quiver_mounts_open_stream(mounts, "MAPS/level1.map", &stream));
  quiver_mounts_close(mounts);
  Streamed(stream);
  quiver_stream_close(stream);
  printf("closed %d times\n", memory.closes);
  free((void*)memory.bytes);
}

int main(int argc, char** argv) {
  quiver_archive* archive = NULL;
  quiver_mounts* mounts = NULL;
  static const unsigned char garbage[20] = {1, 2, 3};
  if (argc == 2 && strcmp(argv[1], "--out-of-memory") == 0) return OutOfMemory();
  if (argc != 4) return 2;
  printf("version %s\n", strncmp(quiver_version(), "1.", 2) == 0 ? "1.x" : quiver_version());
  Archive(argv[1]);
  Say("open_file missing", quiver_open_file("no/such.qvr", &archive));
  Say("open_memory garbage", quiver_open_memory(garbage, sizeof garbage, &archive));
  Say("open_file null path", quiver_open_file(NULL, &archive));
  Say("open_mapped compressed", quiver_open_mapped(argv[2], &archive));
  {
    size_t index = 0;
    const void* data = NULL;
    size_t size = 0;
    quiver_find(archive, "maps/level1.map", &index);
    Say("view compressed", quiver_view(archive, index, &data, &size));
  }
  quiver_close(archive);
  quiver_close(NULL);
  DamagedStream();

  Say("mounts_create", quiver_mounts_create(&mounts));
  Say("mount base", quiver_mount_archive(mounts, argv[1]));
  Say("mount patch", quiver_mount_archive(mounts, argv[2]));
  Say("mount missing directory", quiver_mount_directory(mounts, "no/such/dir"));
  ReadMounted(mounts, "maps/level1.map");
  ReadMounted(mounts, "readme.txt");
  Say("mount directory", quiver_mount_directory(mounts, argv[3]));
  ReadMounted(mounts, "MAPS\\LEVEL1.MAP");
  ReadMounted(mounts, "maps/level1.map");
  ReadMounted(mounts, "readme.txt");
  ReadMounted(mounts, "../outside.txt");
  ReadMounted(mounts, "nowhere.txt");
  Say("mounts_size null name", quiver_mounts_size(mounts, NULL, NULL));
  quiver_mounts_close(mounts);
  quiver_mounts_close(NULL);
  FileSystem(argv[1], argv[2], argv[3]);
  return 0;
}
