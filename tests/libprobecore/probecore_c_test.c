/* libprobecore through its C interface, as an outside program uses it.
 * Run against the preloaded simulated board (LD_PRELOAD=libkelvosim.so).
 *
 *   probecore_c_test check          the interface's rules on a live capture
 *   probecore_c_test nohw           no board: status, serial, empty results
 *   probecore_c_test null           every function given a null handle
 *   probecore_c_test threads PATH   decodes and sample-file loads racing with row
 *                                   readers, on one handle and on two
 *   probecore_c_test dump N         capture N bytes, print every row text line
 *   probecore_c_test file PATH      load a sample file, print every row text line
 */
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "libprobecore.h"

static atomic_int failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static void sleepMs(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, NULL);
}

/* Limits far above what a busy machine needs: they only end a hang. */
static int waitStatusOk(void* h) {
  for (int i = 0; i < 1200; ++i) {
    if (getHardwareStatus(h) == 0) return 1;
    sleepMs(50);
  }
  return 0;
}

static int captureAndDecode(void* h, uint32_t bytes) {
  setNeeded(h, bytes);
  setRun(h, 1);
  int done = 0;
  for (int i = 0; i < 1200 && !done; ++i) {
    done = getCaptureDone(h);
    if (!done) sleepMs(50);
  }
  if (!done) return 0;
  CHECK(getRun(h) == 0); /* the thread took the request before it ran */
  CHECK(getCaptureDone(h) == 0); /* cleared by reading */
  startDecode(h);
  return 1;
}

static void checkVersion(void) {
  char buf[64];
  memset(buf, 'x', sizeof buf);
  CHECK(version(NULL, 100) == 42);
  CHECK(version(buf, 41) == 42);
  CHECK(buf[0] == 'x');
  CHECK(version(buf, 42) == 42);
  CHECK(strncmp(buf, "libprobecore DLL/SO,", 20) == 0);
  CHECK(strlen(buf) == 40);
  CHECK(buf[40] == '\0' && buf[41] == '\0' && buf[42] == 'x');
  CHECK(strcmp(versionX(), buf) == 0);
  /* "Mmm dd yyyy,hh:mm:ss" behind the prefix */
  CHECK(buf[23] == ' ' && buf[26] == ' ' && buf[31] == ',' && buf[34] == ':' && buf[37] == ':');
}

static void checkOutOfRange(void* h) {
  uint32_t count = getPacketDataRowCount(h);
  char buf[16];
  uint32_t bad[3];
  bad[0] = count;
  bad[1] = count + 1;
  bad[2] = 0xFFFFFFFFu;
  for (int i = 0; i < 3; ++i) {
    strcpy(buf, "junk");
    CHECK(getPacketDataRow(h, bad[i], buf, sizeof buf) == 0);
    CHECK(buf[0] == '\0');
    CHECK(getPacketDataRow(h, bad[i], NULL, 100) == 0);
    CHECK(getPacketDataRow(h, bad[i], buf, 0) == 0);
    CHECK(getPacketDataRowX(h, bad[i]) == NULL);
    CHECK(getBoxStrX(h, bad[i]) == NULL);
    CHECK(linix2rowptr(h, bad[i]) == NULL);
  }
}

static int modeCheck(void) {
  checkVersion();
  sniffEnd(NULL);

  void* h = sniffInit();
  CHECK(h != NULL);
  if (!h) return 1;
  CHECK(loh(h) != NULL && exh(h) != NULL && loh(h) != exh(h));
  CHECK(getDecodeDone(h) == 0);
  CHECK(getPacketDataRowCount(h) == 0);
  checkOutOfRange(h);

  CHECK(waitStatusOk(h));
  CHECK(getHardwareChanged(h) == 1);
  CHECK(getHardwareChanged(h) == 0);

  char serial[64];
  uint32_t len = getSerial(h, serial, 0);
  CHECK(len == strlen(getSerialX(h)) + 1);
  memset(serial, 'x', sizeof serial);
  CHECK(getSerial(h, serial, len - 1) == len);
  CHECK(serial[0] == 'x');
  CHECK(getSerial(h, serial, len) == len);
  CHECK(strcmp(serial, getSerialX(h)) == 0);
  CHECK(strcmp(serial, "unavailable") != 0);

  setStop(h, 1);
  CHECK(getStop(h) == 1);
  setStop(h, 0);
  CHECK(getStop(h) == 0);

  CHECK(captureAndDecode(h, 16384));
  CHECK(getCaptureCount(h) > 0);
  CHECK(getDecodeDone(h) == 1);
  CHECK(getDecodedCount(h) > 0 && getDecodedCount(h) <= getCaptureCount(h) + 8);
  uint32_t count = getPacketDataRowCount(h);
  CHECK(count > 10);

  for (uint32_t i = 0; i < count; ++i) {
    const char* x = getPacketDataRowX(h, i);
    CHECK(x != NULL);
    if (!x) continue;
    char* copy = strdup(x);
    size_t n = strlen(copy);
    CHECK(n > 0 && copy[n - 1] == '\n');
    char* buf = malloc(n + 1);
    CHECK(getPacketDataRow(h, i, NULL, 0) == n + 1);
    memset(buf, 'x', n + 1);
    CHECK(getPacketDataRow(h, i, buf, (uint32_t)n) == n + 1); /* one byte short */
    CHECK(buf[0] == 'x');
    CHECK(getPacketDataRow(h, i, buf, (uint32_t)n + 1) == n + 1);
    CHECK(memcmp(buf, copy, n + 1) == 0);
    const char* boxes = getBoxStrX(h, i);
    CHECK(boxes != NULL && strlen(boxes) > 0);
    CHECK(linix2rowptr(h, i) != NULL);
    free(buf);
    free(copy);
  }
  checkOutOfRange(h);

  /* A second capture on the same handle. */
  CHECK(captureAndDecode(h, 4096));
  CHECK(getDecodeDone(h) == 1);
  CHECK(getPacketDataRowCount(h) > 0);

  CHECK(sampleFileRead(h, NULL) == 0);
  CHECK(sampleFileRead(h, "/nonexistent/file.vkd") == 0);
  CHECK(getPacketDataRowCount(h) > 0); /* a failed load keeps the rows */

  sniffEnd(h);
  return failures ? 1 : 0;
}

static int modeNoHardware(void) {
  void* h = sniffInit();
  CHECK(h != NULL);
  if (!h) return 1;
  CHECK(getHardwareStatus(h) == -1);
  CHECK(getHardwareChanged(h) == 0);
  char serial[32];
  CHECK(getSerial(h, serial, 0) == 12);
  CHECK(getSerial(h, serial, sizeof serial) == 12);
  CHECK(strcmp(serial, "unavailable") == 0);
  CHECK(strcmp(getSerialX(h), "unavailable") == 0);
  startDecode(h); /* an empty buffer decodes to no rows */
  CHECK(getDecodeDone(h) == 1);
  CHECK(getPacketDataRowCount(h) == 0);
  checkOutOfRange(h);
  sniffEnd(h);
  return failures ? 1 : 0;
}

/* A null handle, as a failed sniffInit gives, answers as an out-of-range call. */
static int modeNull(void) {
  char buf[16];
  sniffEnd(NULL);
  setConnect(NULL, 1);
  setRun(NULL, 1);
  setStop(NULL, 1);
  CHECK(getRun(NULL) == 0);
  CHECK(getStop(NULL) == 0);
  CHECK(getCaptureDone(NULL) == 0);
  CHECK(getHardwareChanged(NULL) == 0);
  setNeeded(NULL, 4096);
  CHECK(getCaptureCount(NULL) == 0);
  startDecode(NULL);
  CHECK(getDecodeDone(NULL) == 0);
  CHECK(getDecodedCount(NULL) == 0);
  CHECK(getHardwareStatus(NULL) == -1);
  strcpy(buf, "junk");
  CHECK(getSerial(NULL, buf, sizeof buf) == 0);
  CHECK(buf[0] == '\0');
  CHECK(getSerialX(NULL) == NULL);
  CHECK(getPacketDataRowCount(NULL) == 0);
  strcpy(buf, "junk");
  CHECK(getPacketDataRow(NULL, 0, buf, sizeof buf) == 0);
  CHECK(buf[0] == '\0');
  CHECK(getPacketDataRowX(NULL, 0) == NULL);
  CHECK(getBoxStrX(NULL, 0) == NULL);
  CHECK(linix2rowptr(NULL, 0) == NULL);
  CHECK(sampleFileRead(NULL, "/nonexistent/file.vkd") == 0);
  CHECK(loh(NULL) == NULL);
  CHECK(exh(NULL) == NULL);
  return failures ? 1 : 0;
}

/* ---- threads: a decoder and a reader on one handle, two of both on two ---- */

enum { ROUNDS = 150 };

typedef struct {
  void* h;
  const char* path; /* the decoder alternates decodes with loads of this file */
  int readAlso;     /* the decoder reads its own rows after each step */
  atomic_int* stop; /* set by the decoder when it is through */
} Tworker;

/* Every row text of h, checked. When no other thread changes h's rows (own), the
 * X text equals the plain form taken after it, so a text overwritten by another
 * thread's X call shows. */
static void readRows(void* h, int own) {
  char buf[4096];
  uint32_t count = getPacketDataRowCount(h);
  for (uint32_t i = 0; i <= count; ++i) {
    const char* x = getPacketDataRowX(h, i);
    uint32_t n = getPacketDataRow(h, i, buf, sizeof buf);
    if (x) {
      size_t len = strlen(x);
      CHECK(len > 0 && x[len - 1] == '\n');
      CHECK(!own || (n > 0 && (n > sizeof buf || strcmp(x, buf) == 0)));
    }
    const char* boxes = getBoxStrX(h, i);
    CHECK(boxes == NULL || boxes[0] != '\0');
    (void)linix2rowptr(h, i);
  }
}

static void* decoder(void* arg) {
  Tworker* w = (Tworker*)arg;
  for (int r = 0; r < ROUNDS; ++r) {
    if (r % 2 == 0)
      startDecode(w->h);
    else
      CHECK(sampleFileRead(w->h, w->path) > 0);
    CHECK(getDecodeDone(w->h) == 1);
    if (w->readAlso) readRows(w->h, 1);
  }
  atomic_store(w->stop, 1);
  return NULL;
}

static void* reader(void* arg) {
  Tworker* w = (Tworker*)arg;
  while (!atomic_load(w->stop)) {
    readRows(w->h, 0);
    (void)getDecodedCount(w->h);
  }
  return NULL;
}

static int modeThreads(const char* path) {
  void* h = sniffInit();
  CHECK(h != NULL);
  if (!h || !waitStatusOk(h) || !captureAndDecode(h, 16384)) {
    fprintf(stderr, "capture failed\n");
    sniffEnd(h);
    return 1;
  }
  CHECK(getPacketDataRowCount(h) > 10);

  /* One handle: one thread decodes and loads, the other reads rows and texts. */
  atomic_int stop = 0;
  Tworker w = {h, path, 0, &stop};
  pthread_t t1, t2;
  pthread_create(&t1, NULL, decoder, &w);
  pthread_create(&t2, NULL, reader, &w);
  pthread_join(t1, NULL);
  pthread_join(t2, NULL);

  /* Two handles: each thread decodes or loads its own and reads its own texts. */
  void* h2 = sniffInit();
  CHECK(h2 != NULL);
  if (h2) {
    atomic_int stop1 = 0, stop2 = 0;
    Tworker w1 = {h, path, 1, &stop1};
    Tworker w2 = {h2, path, 1, &stop2};
    pthread_create(&t1, NULL, decoder, &w1);
    pthread_create(&t2, NULL, decoder, &w2);
    pthread_join(t1, NULL);
    pthread_join(t2, NULL);
    sniffEnd(h2);
  }
  sniffEnd(h);
  return failures ? 1 : 0;
}

static void printRows(void* h) {
  uint32_t count = getPacketDataRowCount(h);
  for (uint32_t i = 0; i < count; ++i) fputs(getPacketDataRowX(h, i), stdout);
}

static int modeDump(uint32_t bytes) {
  void* h = sniffInit();
  if (!h || !waitStatusOk(h) || !captureAndDecode(h, bytes)) {
    fprintf(stderr, "capture failed\n");
    return 1;
  }
  printRows(h);
  sniffEnd(h);
  return failures ? 1 : 0;
}

static int modeFile(const char* path) {
  void* h = sniffInit();
  if (!h) return 1;
  uint32_t n = sampleFileRead(h, path);
  CHECK(n == getPacketDataRowCount(h));
  printRows(h);
  sniffEnd(h);
  return n > 0 && !failures ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "check") == 0) return modeCheck();
  if (argc >= 2 && strcmp(argv[1], "nohw") == 0) return modeNoHardware();
  if (argc >= 2 && strcmp(argv[1], "null") == 0) return modeNull();
  if (argc >= 3 && strcmp(argv[1], "threads") == 0) return modeThreads(argv[2]);
  if (argc >= 3 && strcmp(argv[1], "dump") == 0) return modeDump((uint32_t)strtoul(argv[2], NULL, 0));
  if (argc >= 3 && strcmp(argv[1], "file") == 0) return modeFile(argv[2]);
  fprintf(stderr, "usage: %s check | nohw | null | threads PATH | dump BYTES | file PATH\n", argv[0]);
  return 2;
}
