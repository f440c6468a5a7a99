/* A small host: loads the DLL as any host would, runs move nudges every
 * second for a few seconds, prints each status line that differs from the one
 * before, and stops the run.
 *
 *   demo_host [seconds]      (default 5)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef int (*start_fn)(const char *);
typedef int (*stop_fn)(void);
typedef const char *(*text_fn)(void);

static FARPROC need(HMODULE dll, const char *name) {
  FARPROC p = GetProcAddress(dll, name);
  if (!p) {
    fprintf(stderr, "demo_host: the DLL has no export %s\n", name);
    exit(1);
  }
  return p;
}

int main(int argc, char **argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 5;
  HMODULE dll = LoadLibraryA("veltrano-mouse-jiggler.dll");
  if (!dll) {
    fprintf(stderr, "demo_host: cannot load veltrano-mouse-jiggler.dll (error %lu)\n", GetLastError());
    return 1;
  }
  start_fn mj_start = (start_fn)(void (*)(void))need(dll, "mj_start");
  stop_fn mj_stop = (stop_fn)(void (*)(void))need(dll, "mj_stop");
  text_fn mj_status = (text_fn)(void (*)(void))need(dll, "mj_status");
  text_fn mj_last_error = (text_fn)(void (*)(void))need(dll, "mj_last_error");
  text_fn mj_version = (text_fn)(void (*)(void))need(dll, "mj_version");

  const char *options = "{\"mode\":\"move\",\"interval_s\":1,\"dx\":2,\"dy\":2,\"only_when_idle\":false}";
  printf("veltrano-mouse-jiggler %s: mj_start(%s)\n", mj_version(), options);
  if (!mj_start(options)) {
    fprintf(stderr, "demo_host: mj_start failed: %s\n", mj_last_error());
    return 1;
  }

  char last[1024] = "";
  DWORD end = GetTickCount() + (DWORD)seconds * 1000;
  while ((LONG)(GetTickCount() - end) < 0) {
    const char *line = mj_status();
    if (strcmp(line, last) != 0) {
      printf("%s\n", line);
      fflush(stdout);
      snprintf(last, sizeof last, "%s", line);
    }
    Sleep(100);
  }

  mj_stop();
  printf("mj_stop()\n%s\n", mj_status());
  FreeLibrary(dll);
  return 0;
}
