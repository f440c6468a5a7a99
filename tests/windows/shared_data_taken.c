/* Built for Linux and preloaded (LD_PRELOAD) into Wine processes by
 * check_start_retry.cmake: in the first processes of a program it takes the
 * page where Wine maps Windows' shared user data (0x7ffe0000) before Wine
 * does, as the loader's heap now and then does by chance (Linux places it
 * anywhere in the gigabyte above Debian's preloader-less wine64). Wine then
 * ends that process before it has started, and CreateProcess in its parent
 * fails with error 1359.
 *
 *   MJ_TAKE_PROGRAM   the program's name, as its command line holds it
 *   MJ_TAKE_COUNT     a file holding how many of its processes still lose
 *                     the page; each such process counts one down */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

/* Whether this process's command line names the program. */
static int runs(const char *program) {
  char line[4096];
  int fd = open("/proc/self/cmdline", O_RDONLY);
  if (fd < 0) return 0;
  ssize_t n = read(fd, line, sizeof line - 1);
  close(fd);
  if (n <= 0) return 0;
  for (ssize_t i = 0; i < n; i++)
    if (line[i] == '\0') line[i] = ' ';
  line[n] = '\0';
  return strstr(line, program) != NULL;
}

/* Counts the file's number down by one; whether it was above zero. */
static int count_down(const char *path) {
  int fd = open(path, O_RDWR);
  if (fd < 0) return 0;
  flock(fd, LOCK_EX);
  char text[32] = {0};
  ssize_t n = read(fd, text, sizeof text - 1);
  long left = n > 0 ? strtol(text, NULL, 10) : 0;
  if (left > 0) {
    int length = snprintf(text, sizeof text, "%ld\n", left - 1);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text, (size_t)length, 0) != length) left = 0;
  }
  close(fd);
  return left > 0;
}

__attribute__((constructor)) static void take_shared_data(void) {
  const char *program = getenv("MJ_TAKE_PROGRAM"), *count = getenv("MJ_TAKE_COUNT");
  if (!program || !count || !runs(program) || !count_down(count)) return;
  mmap((void *)0x7ffe0000, 0x1000, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
}
