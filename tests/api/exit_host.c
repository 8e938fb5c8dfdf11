/* A small C host of libBrackwell.so for the host-exit tests: it uses the
   engine and then leaves the way the first argument says, never unloading
   it. Built twice: loading the engine with dlopen (BW_HOST_DLOPEN, the
   library's path is the second argument) and linked with -lBrackwell.

   Modes:
     return              streams on the simulated devices, returns from main
                         while streaming
     exit                the same, leaving by exit(0)
     fork                streams; a forked child calls the engine and leaves
                         by exit(0); the parent checks it exited 0
     frozen PID          streams on the default devices (the sound server),
                         stops the server (SIGSTOP to PID) so that sdrStop
                         gives the streams up, then returns from main
     reload CYCLES       (dlopen only) loads, configures and unloads the
                         engine CYCLES times and prints the growth of the heap
                         in use per cycle after the first three, in bytes

   Exit status 0 when everything went as expected; 2..9 name the step that
   failed (the test prints the host's output). */
#include <dlfcn.h>
#include <malloc.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "brackwell/brackwell.h"

struct Engine {
  int32_t (*numIn)(void);
  int32_t (*numOut)(void);
  const char* (*nameIn)(int32_t);
  const char* (*nameOut)(int32_t);
  int32_t (*setGlobal)(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);
  int32_t (*setNewParam)(const void*);
  int32_t (*start)(SdrBlockHook);
  int32_t (*stop)(void);
};

static struct Engine bind(void* library) {
  struct Engine e;
#ifdef BW_HOST_DLOPEN
#define BIND(field, symbol) *(void**)&e.field = dlsym(library, #symbol)
#else
  (void)library;
#define BIND(field, symbol) e.field = &symbol
#endif
  BIND(numIn, sdrGetNumInDevice);
  BIND(numOut, sdrGetNumOutDevice);
  BIND(nameIn, sdrGetNameInDevice);
  BIND(nameOut, sdrGetNameOutDevice);
  BIND(setGlobal, sdrSetGlobal);
  BIND(setNewParam, sdrSetNewParam);
  BIND(start, sdrStart);
  BIND(stop, sdrStop);
#undef BIND
  return e;
}

static atomic_long blocks;
static void countBlock(void) { atomic_fetch_add(&blocks, 1); }

static void sleepMs(int ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

/* The engine number of the device named `name`, or 0. */
static int32_t findDevice(int32_t (*count)(void), const char* (*name)(int32_t),
                          const char* wanted) {
  for (int32_t d = 2; d <= count(); ++d) {
    if (strcmp(name(d), wanted) == 0) return d;
  }
  return 0;
}

/* Configures, starts and waits for a few blocks; 0 on success. */
static int startStreaming(const struct Engine* e, int32_t in, int32_t out) {
  uint8_t block[SDR_PARAM_BLOCK_BYTES] = {1};
  if (in == 0 || out == 0) return 3;
  if (e->setGlobal(in, out, 4, 10, 48000, 16) != SDR_OK) return 4;
  if (e->setNewParam(block) != SDR_OK) return 5;
  if (e->start(&countBlock) != SDR_OK) return 6;
  for (int waited = 0; atomic_load(&blocks) < 4; waited += 10) {
    if (waited > 10000) return 7;
    sleepMs(10);
  }
  return 0;
}

static int32_t simulatedIn(const struct Engine* e) {
  return findDevice(e->numIn, e->nameIn, "Simulated I/Q band");
}
static int32_t simulatedOut(const struct Engine* e) {
  return findDevice(e->numOut, e->nameOut, "Simulated output");
}
static int startSimulated(const struct Engine* e) {
  return startStreaming(e, simulatedIn(e), simulatedOut(e));
}

static int forkedChildExits(const struct Engine* e) {
  fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return 8;
  if (child == 0) {
    (void)e->numIn();
    exit(0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return 8;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    printf("forked child: status %d\n", status);
    return 9;
  }
  return e->stop() == SDR_OK ? 0 : 9;
}

#ifdef BW_HOST_DLOPEN
static size_t heapInUse(void) { return mallinfo2().uordblks; }

static int reload(const char* path, int cycles) {
  size_t base = 0;
  for (int i = 0; i < cycles; ++i) {
    if (i == 3) base = heapInUse();
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) return 2;
    const struct Engine e = bind(library);
    if (e.setGlobal(simulatedIn(&e), simulatedOut(&e), 4, 10, 48000, 16) != SDR_OK) return 4;
    dlclose(library);
  }
  printf("growth %ld\n", ((long)heapInUse() - (long)base) / (cycles - 3));
  return 0;
}
#endif

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* mode = argv[1];
  void* library = NULL;
#ifdef BW_HOST_DLOPEN
  if (argc < 3) return 2;
  if (strcmp(mode, "reload") == 0) return argc > 3 ? reload(argv[2], atoi(argv[3])) : 2;
  library = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    printf("%s\n", dlerror());
    return 2;
  }
#endif
  const struct Engine e = bind(library);
  int failed = 0;
  if (strcmp(mode, "return") == 0) {
    failed = startSimulated(&e);
  } else if (strcmp(mode, "exit") == 0) {
    failed = startSimulated(&e);
    if (!failed) exit(0);
  } else if (strcmp(mode, "fork") == 0) {
    failed = startSimulated(&e);
    if (!failed) failed = forkedChildExits(&e);
  } else if (strcmp(mode, "frozen") == 0) {
    const pid_t server = (pid_t)atol(argv[argc - 1]);
    failed = server > 0 ? startStreaming(&e, 1, 1) : 2;
    if (!failed) {
      kill(server, SIGSTOP);
      sleepMs(200);
      /* Returns once the streams are given up. */
      failed = e.stop() == SDR_OK ? 0 : 9;
    }
  } else {
    failed = 2;
  }
  printf("%s: %d, %ld blocks\n", mode, failed, atomic_load(&blocks));
  fflush(stdout);
  return failed;
}
