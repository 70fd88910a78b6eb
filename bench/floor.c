/* The floor a tree scan cannot go below: every file of a list opened, its
 * size asked and its content read to the end, on a few threads, with
 * nothing hashed and nothing written. The list is made once beforehand so
 * that the directory walk is not part of the floor.
 *
 *   floor ROOT LISTFILE [THREADS]     (LISTFILE: paths below ROOT, one a line)
 *
 * cc -O2 -pthread -o floor floor.c */
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { BATCH = 64, BUF = 1 << 20 };

static int root_fd;
static char **paths;
static size_t count;
static atomic_size_t next;
static atomic_int failures;

static void *reader(void *unused) {
  char *buf = malloc(BUF);
  struct stat st;
  (void)unused;
  /* Batches rather than every second path: a thread that meets a slow
   * file does not leave the other idle at the end. */
  for (size_t start; (start = atomic_fetch_add(&next, BATCH)) < count;) {
    size_t end = start + BATCH < count ? start + BATCH : count;
    for (size_t i = start; i < end; i++) {
      int fd = openat(root_fd, paths[i], O_RDONLY | O_CLOEXEC);
      if (fd < 0 || fstat(fd, &st) != 0) {
        atomic_fetch_add(&failures, 1);
        if (fd >= 0) close(fd);
        continue;
      }
      off_t at = 0;
      ssize_t n;
      while ((n = pread(fd, buf, BUF, at)) > 0) at += n;
      if (n < 0) atomic_fetch_add(&failures, 1);
      close(fd);
    }
  }
  free(buf);
  return NULL;
}

int main(int argc, char **argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: %s ROOT LISTFILE [THREADS]\n", argv[0]);
    return 2;
  }
  int threads = argc == 4 ? atoi(argv[3]) : 2;
  if (threads < 1) threads = 1;
  root_fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  FILE *list = fopen(argv[2], "r");
  if (root_fd < 0 || !list) {
    perror(root_fd < 0 ? argv[1] : argv[2]);
    return 2;
  }
  /* One read of the whole list, split in place: a million mallocs would
   * count against the floor. */
  fseek(list, 0, SEEK_END);
  long size = ftell(list);
  rewind(list);
  char *text = malloc(size + 1);
  if (fread(text, 1, size, list) != (size_t)size) return perror(argv[2]), 2;
  text[size] = '\n';
  for (long i = 0; i <= size; i++) count += text[i] == '\n';
  paths = malloc(count * sizeof *paths);
  count = 0;
  for (char *p = text, *nl; p < text + size; p = nl + 1) {
    nl = memchr(p, '\n', text + size + 1 - p);
    *nl = '\0';
    if (nl > p) paths[count++] = p;
  }
  pthread_t *ids = malloc(threads * sizeof *ids);
  for (int t = 0; t < threads; t++) pthread_create(&ids[t], NULL, reader, NULL);
  for (int t = 0; t < threads; t++) pthread_join(ids[t], NULL);
  if (failures) fprintf(stderr, "floor: %d files could not be read\n", failures);
  return failures ? 1 : 0;
}
