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
  return 0;
}
