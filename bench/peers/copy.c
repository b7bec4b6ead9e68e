/* copy IN OUT: reads IN whole with fread and writes the same bytes with fwrite to a new
 * file beside OUT, flushed to the disk, which then takes OUT's place: the least any
 * program doing the tool's job must do. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: copy IN OUT\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  if (in == NULL || fseek(in, 0, SEEK_END) != 0) {
    perror("copy: open");
    return 1;
  }
  long size = ftell(in);
  rewind(in);
  char* bytes = malloc(size > 0 ? (size_t)size : 1);
  if (bytes == NULL || fread(bytes, 1, (size_t)size, in) != (size_t)size) {
    perror("copy: read");
    return 1;
  }
  fclose(in);
  char temp[4096];
  snprintf(temp, sizeof temp, "%s.%ld.tmp", argv[2], (long)getpid());
  FILE* out = fopen(temp, "wb");
  if (out == NULL || fwrite(bytes, 1, (size_t)size, out) != (size_t)size || fflush(out) != 0 ||
      fsync(fileno(out)) != 0 || fclose(out) != 0 || rename(temp, argv[2]) != 0) {
    perror("copy: write");
    return 1;
  }
  free(bytes);
  return 0;
}
