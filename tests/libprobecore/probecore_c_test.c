/* libprobecore through its C interface, as an outside program uses it.
 * Run against the preloaded simulated board (LD_PRELOAD=libkelvosim.so).
 *
 *   probecore_c_test check          the interface's rules on a live capture
 *   probecore_c_test nohw           no board: status, serial, empty results
 *   probecore_c_test dump N         capture N bytes, print every row text line
 *   probecore_c_test file PATH      load a sample file, print every row text line
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "libprobecore.h"

static int failures = 0;

#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

static void sleepMs(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, NULL);
}

static int waitStatusOk(void* h) {
  for (int i = 0; i < 100; ++i) {
    if (getHardwareStatus(h) == 0) return 1;
    sleepMs(50);
  }
  return 0;
}

static int captureAndDecode(void* h, uint32_t bytes) {
  setNeeded(h, bytes);
  setRun(h, 1);
  CHECK(getRun(h) == 1 || getCaptureDone(h) == 0);
  int done = 0;
  for (int i = 0; i < 600 && !done; ++i) {
    done = getCaptureDone(h);
    if (!done) sleepMs(50);
  }
  if (!done) return 0;
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
  if (argc >= 3 && strcmp(argv[1], "dump") == 0) return modeDump((uint32_t)strtoul(argv[2], NULL, 0));
  if (argc >= 3 && strcmp(argv[1], "file") == 0) return modeFile(argv[2]);
  fprintf(stderr, "usage: %s check | nohw | dump BYTES | file PATH\n", argv[0]);
  return 2;
}
