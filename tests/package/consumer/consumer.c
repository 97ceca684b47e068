/* Lists an archive and prints the length of every member it reads back. */
#include <quiver/quiver.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  quiver_archive* archive = NULL;
  quiver_status status;
  size_t i;
  if (argc != 2) return 2;
  status = quiver_open_file(argv[1], &archive);
  if (status != QUIVER_OK) {
    printf("%s\n", quiver_status_message(status));
    return 1;
  }
  for (i = 0; i < quiver_member_count(archive); ++i) {
    quiver_member_info info;
    void* bytes;
    if (quiver_member_at(archive, i, &info) != QUIVER_OK) return 1;
    bytes = malloc(info.original_length);
    if (quiver_read(archive, i, bytes, info.original_length) != QUIVER_OK) return 1;
    printf("%s %lu\n", info.name, (unsigned long)info.original_length);
    free(bytes);
  }
  quiver_close(archive);
  return 0;
}
