/* Walks an archive's directories and streams every member in pieces of
 * 1000 bytes, holding each to a whole read of it. */
#include <quiver/quiver.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failed = 0;

static int Visit(void* user, const quiver_entry* entry) {
  const quiver_archive* archive = (const quiver_archive*)user;
  quiver_stream* stream = NULL;
  char* whole;
  char* streamed;
  size_t filled = 0;
  size_t got = 0;
  if (entry->directory) {
    printf("%s/\n", entry->path);
    return 1;
  }
  whole = malloc(entry->size + 1);
  streamed = malloc(entry->size + 1000);
  if (quiver_read(archive, entry->index, whole, entry->size) != QUIVER_OK ||
      quiver_open_stream(archive, entry->index, &stream) != QUIVER_OK)
    failed = 1;
  while (!failed && quiver_stream_read(stream, streamed + filled, 1000, &got) == QUIVER_OK &&
         got > 0)
    filled += got;
  if (filled != entry->size || memcmp(whole, streamed, filled) != 0) failed = 1;
  printf("%s %lu\n", entry->path, (unsigned long)filled);
  quiver_stream_close(stream);
  free(whole);
  free(streamed);
  return !failed;
}

int main(int argc, char** argv) {
  quiver_archive* archive = NULL;
  quiver_entry entry;
  quiver_status status;
  if (argc != 2) return 2;
  status = quiver_open_file(argv[1], &archive);
  if (status == QUIVER_OK) status = quiver_walk(archive, "", Visit, archive);
  if (status == QUIVER_OK) status = quiver_stat(archive, "ASSETS/MAPS", &entry);
  if (status != QUIVER_OK || failed) {
    printf("%s\n", status != QUIVER_OK ? quiver_status_message(status) : "a stream differs");
    return 1;
  }
  printf("ASSETS/MAPS is a %s\n", entry.directory ? "directory" : "file");
  quiver_close(archive);
  return 0;
}
