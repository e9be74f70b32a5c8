/* Preloaded into the patcher by the wizard tests: a disk that stops taking
 * the install's writes until the test opens a gate, so a job can be held in
 * the middle while the test cancels it or closes the window.
 *
 *   GATED_WRITES_GATE=PATH   writes into a ".velmo-staging" folder wait
 *                            until PATH exists;
 *   GATED_WRITES_FREE=N      the first N such writes pass at once.
 *
 * While a write waits, PATH.waiting exists. Other writes (the X connection,
 * logs, temporary copies) are never held. Wine's file writes are caught too:
 * its NtWriteFile ends in write or pwrite on the file's own descriptor. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef ssize_t (*pwrite_fn)(int, const void*, size_t, off_t);

static int intoStaging(int fd) {
  char link[64], target[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return 0;
  target[n] = 0;
  return strstr(target, "/.velmo-staging/") != NULL;
}

static void waitForGate(const char* gate) {
  static long passed = 0;  /* only the install's one worker thread gets here */
  const char* free = getenv("GATED_WRITES_FREE");
  if (passed < (free ? atol(free) : 0)) {
    ++passed;
    return;
  }
  if (access(gate, F_OK) == 0) return;
  char waiting[PATH_MAX];
  snprintf(waiting, sizeof waiting, "%s.waiting", gate);
  int marker = open(waiting, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (marker >= 0) close(marker);
  const struct timespec tick = {0, 20 * 1000 * 1000};
  while (access(gate, F_OK) != 0) nanosleep(&tick, NULL);
  unlink(waiting);
}

static void holdIfStaging(int fd) {
  const char* gate = getenv("GATED_WRITES_GATE");
  if (gate && intoStaging(fd)) waitForGate(gate);
}

ssize_t write(int fd, const void* data, size_t size) {
  static write_fn real = NULL;
  if (!real) real = (write_fn)dlsym(RTLD_NEXT, "write");
  holdIfStaging(fd);
  return real(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static pwrite_fn real = NULL;
  if (!real) real = (pwrite_fn)dlsym(RTLD_NEXT, "pwrite");
  holdIfStaging(fd);
  return real(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  static pwrite_fn real = NULL;
  if (!real) real = (pwrite_fn)dlsym(RTLD_NEXT, "pwrite64");
  holdIfStaging(fd);
  return real(fd, data, size, offset);
}
