/* The floor of bench/floor.c with the system calls batched through
 * io_uring: each file of a list is opened, read and closed by a chain of
 * linked requests, BATCH files a submission, on a few threads, nothing
 * hashed. How the status is taken is the mode, one look a file as floor.c
 * takes:
 *
 *   none          no status: openat (direct descriptor) -> read -> close
 *   statx-path    IORING_OP_STATX by path, then the chain above
 *   statx-direct  the chain with IORING_OP_STATX on the direct descriptor
 *   fstat         openat (plain descriptor) in one submission, fstat(2)
 *                 on each, then read -> close in a second one
 *   statx-fd      as fstat, with IORING_OP_STATX on the plain descriptor
 *                 linked before the read instead of fstat(2)
 *
 *   uring_floor ROOT LISTFILE [THREADS] [MODE]
 *
 * Exit status 1 when any file could not be read (a mode the kernel refuses
 * shows here), 2 on bad arguments or when io_uring is not to be had.
 *
 * cc -O2 -pthread -o uring_floor uring_floor.c -luring */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <liburing.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* Files up to BUF bytes take one read; a larger one is read on by plain
 * calls, which the benchmark's trees of 0-1 KiB files never need. */
enum { BATCH = 64, BUF = 64 * 1024 };
enum { NONE, STATX_PATH, STATX_DIRECT, FSTAT, STATX_FD };
static const char *const modes[] = {"none", "statx-path", "statx-direct", "fstat", "statx-fd"};
enum { OP_OPEN, OP_STATUS, OP_READ, OP_CLOSE };

static int root_fd, mode;
static char **paths;
static size_t count;
static atomic_size_t next;
static atomic_int failures;
static atomic_int first_error;

/* The first error that is not a request cancelled for its chain's sake. */
static void fail(int error) {
  int seen = atomic_load(&first_error);
  atomic_fetch_add(&failures, 1);
  while ((seen == 0 || (seen == ECANCELED && error != ECANCELED))
         && !atomic_compare_exchange_weak(&first_error, &seen, error)) {
  }
}

static struct io_uring_sqe *sqe_of(struct io_uring *ring) {
  struct io_uring_sqe *sqe = io_uring_get_sqe(ring);
  if (!sqe) { /* the ring holds a whole batch: never */
    fprintf(stderr, "uring_floor: submission queue full\n");
    exit(2);
  }
  return sqe;
}

static void tag(struct io_uring_sqe *sqe, size_t i, int op, unsigned flags) {
  io_uring_sqe_set_data64(sqe, (__u64)i << 2 | (__u64)op);
  sqe->flags |= flags;
}

/* Waits for want completions; reads that filled the buffer are read on. */
static void reap(struct io_uring *ring, unsigned want, size_t start, int *read_full) {
  struct io_uring_cqe *cqe;
  for (unsigned seen = 0; seen < want; seen++) {
    int ret = io_uring_wait_cqe(ring, &cqe);
    if (ret < 0) {
      fprintf(stderr, "uring_floor: wait: %s\n", strerror(-ret));
      exit(2);
    }
    __u64 data = io_uring_cqe_get_data64(cqe);
    int op = (int)(data & 3), res = cqe->res;
    size_t i = (size_t)(data >> 2);
    io_uring_cqe_seen(ring, cqe);
    /* A file that failed counts once, at its open, or at its status where
     * the kernel refused the whole chain. */
    if (res < 0 && res != -ECANCELED && (op == OP_OPEN || op == OP_STATUS)) fail(-res);
    if (op == OP_READ && res == BUF) read_full[i - start] = 1;
  }
}

static void read_rest(size_t i, char *buf) {
  int fd = openat(root_fd, paths[i], O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  off_t at = BUF;
  ssize_t n;
  while ((n = pread(fd, buf, BUF, at)) > 0) at += n;
  if (n < 0) fail(errno);
  close(fd);
}

static void *reader(void *unused) {
  (void)unused;
  struct io_uring ring;
  int ret = io_uring_queue_init(4 * BATCH, &ring, 0);
  if (ret < 0) {
    fprintf(stderr, "uring_floor: io_uring_queue_init: %s\n", strerror(-ret));
    exit(2);
  }
  int direct = mode == NONE || mode == STATX_PATH || mode == STATX_DIRECT;
  if (direct && (ret = io_uring_register_files_sparse(&ring, BATCH)) < 0) {
    fprintf(stderr, "uring_floor: io_uring_register_files_sparse: %s\n", strerror(-ret));
    exit(2);
  }
  char *bufs = malloc((size_t)BATCH * BUF);
  struct statx *looks = malloc(BATCH * sizeof *looks);
  int fds[BATCH], read_full[BATCH];
  struct stat st;
  for (size_t start; (start = atomic_fetch_add(&next, BATCH)) < count;) {
    size_t end = start + BATCH < count ? start + BATCH : count;
    unsigned want = 0;
    memset(read_full, 0, sizeof read_full);
    if (direct) {
      for (size_t i = start; i < end; i++) {
        unsigned slot = (unsigned)(i - start);
        struct io_uring_sqe *sqe;
        if (mode == STATX_PATH) {
          sqe = sqe_of(&ring);
          io_uring_prep_statx(sqe, root_fd, paths[i], AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &looks[slot]);
          tag(sqe, i, OP_STATUS, IOSQE_IO_HARDLINK);
          want++;
        }
        sqe = sqe_of(&ring);
        io_uring_prep_openat_direct(sqe, root_fd, paths[i], O_RDONLY, 0, slot);
        tag(sqe, i, OP_OPEN, IOSQE_IO_HARDLINK);
        if (mode == STATX_DIRECT) {
          sqe = sqe_of(&ring);
          io_uring_prep_statx(sqe, (int)slot, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &looks[slot]);
          tag(sqe, i, OP_STATUS, IOSQE_IO_HARDLINK | IOSQE_FIXED_FILE);
          want++;
        }
        /* Hard links: a short read, the usual end of a small file, would
         * break a soft link and leave the descriptor open. */
        sqe = sqe_of(&ring);
        io_uring_prep_read(sqe, (int)slot, bufs + (size_t)slot * BUF, BUF, 0);
        tag(sqe, i, OP_READ, IOSQE_IO_HARDLINK | IOSQE_FIXED_FILE);
        sqe = sqe_of(&ring);
        io_uring_prep_close_direct(sqe, slot);
        tag(sqe, i, OP_CLOSE, 0);
        want += 3;
      }
      io_uring_submit(&ring);
      reap(&ring, want, start, read_full);
    } else {
      struct io_uring_cqe *cqe;
      for (size_t i = start; i < end; i++) {
        struct io_uring_sqe *sqe = sqe_of(&ring);
        io_uring_prep_openat(sqe, root_fd, paths[i], O_RDONLY | O_CLOEXEC, 0);
        io_uring_sqe_set_data64(sqe, i - start);
      }
      io_uring_submit(&ring);
      for (size_t seen = start; seen < end; seen++) {
        if ((ret = io_uring_wait_cqe(&ring, &cqe)) < 0) {
          fprintf(stderr, "uring_floor: wait: %s\n", strerror(-ret));
          exit(2);
        }
        fds[io_uring_cqe_get_data64(cqe)] = cqe->res;
        io_uring_cqe_seen(&ring, cqe);
      }
      for (size_t i = start; i < end; i++) {
        unsigned slot = (unsigned)(i - start);
        int fd = fds[slot];
        if (fd < 0) {
          fail(-fd);
          continue;
        }
        struct io_uring_sqe *sqe;
        if (mode == FSTAT && fstat(fd, &st) != 0) fail(errno);
        if (mode == STATX_FD) {
          sqe = sqe_of(&ring);
          io_uring_prep_statx(sqe, fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &looks[slot]);
          tag(sqe, i, OP_STATUS, IOSQE_IO_HARDLINK);
          want++;
        }
        sqe = sqe_of(&ring);
        io_uring_prep_read(sqe, fd, bufs + (size_t)slot * BUF, BUF, 0);
        tag(sqe, i, OP_READ, IOSQE_IO_HARDLINK);
        sqe = sqe_of(&ring);
        io_uring_prep_close(sqe, fd);
        tag(sqe, i, OP_CLOSE, 0);
        want += 2;
      }
      io_uring_submit(&ring);
      reap(&ring, want, start, read_full);
    }
    for (size_t i = start; i < end; i++)
      if (read_full[i - start]) read_rest(i, bufs);
  }
  io_uring_queue_exit(&ring);
  free(looks);
  free(bufs);
  return NULL;
}

int main(int argc, char **argv) {
  if (argc < 3 || argc > 5) {
    fprintf(stderr, "usage: %s ROOT LISTFILE [THREADS] [none|statx-path|statx-direct|fstat|statx-fd]\n", argv[0]);
    return 2;
  }
  int threads = argc >= 4 ? atoi(argv[3]) : 2;
  if (threads < 1) threads = 1;
  mode = -1;
  for (int m = 0; m < (int)(sizeof modes / sizeof *modes); m++)
    if (strcmp(argc == 5 ? argv[4] : "none", modes[m]) == 0) mode = m;
  if (mode < 0) {
    fprintf(stderr, "uring_floor: no mode %s\n", argv[4]);
    return 2;
  }
  root_fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  FILE *list = fopen(argv[2], "r");
  if (root_fd < 0 || !list) {
    perror(root_fd < 0 ? argv[1] : argv[2]);
    return 2;
  }
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
  if (failures)
    fprintf(stderr, "uring_floor: %d files could not be read (%s, first: %s)\n", failures, modes[mode],
            strerror(first_error));
  return failures ? 1 : 0;
}
