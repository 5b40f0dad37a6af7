/* libprobecore: capture and decode of full-speed USB traffic with a Kelvo
 * board, through a flat C interface.
 *
 * Typical use: h = sniffInit(); wait for getHardwareStatus(h) == 0;
 * setNeeded(h, bytes); setRun(h, 1); poll getCaptureDone(h); startDecode(h);
 * read rows with getPacketDataRow / getPacketDataRowX / getBoxStrX; sniffEnd(h).
 *
 * Plain forms (buf, size) copy the whole text with its NUL only when size is
 * large enough, and always return the length including the NUL. X forms return
 * a pointer into a buffer of the calling thread, valid until that thread's next
 * X call, or NULL where there is no result.
 *
 * Threads: any function may be called from any thread, also on one handle at
 * the same time; a decode or a sample-file load blocks the row readers of its
 * handle until it has ended, while getDecodedCount and getDecodeDone answer at
 * once. Only sniffEnd must not overlap another call on its handle.
 *
 * getHardwareStatus gives -1 also for a board that is plugged in but cannot be
 * opened (no permission, or held by another program); getHardwareChanged
 * returns 1 when that reason changes, though the status stays -1.
 *
 * A null handle (sniffInit returns one when it cannot make a handle) is
 * answered as an out-of-range call: 0, an empty text, NULL, or nothing done;
 * getHardwareStatus gives -1 (no board).
 *
 * During a capture, from setRun(h, 1) until the capture thread raises the done
 * flag that getCaptureDone takes, setNeeded, startDecode and setConnect are
 * ignored: the buffer is the thread's, and a connect would end the capture
 * without its done flag. An ignored startDecode sets getDecodeDone to 0 until
 * a decode ends; the rows of before stay. Once getCaptureDone has returned 1,
 * all three are honoured at once. Connect or disconnect before setRun.
 *
 * A run asked for before a board is ready (getHardwareStatus not 0) stays
 * pending and starts as soon as a board is ready; until then it holds the
 * buffer as a capture does. setRun(h, 0) withdraws it. setStop ends only a
 * capture that runs: a pending run gives no getCaptureDone until a board
 * comes, so withdraw it rather than stop it (a stop given meanwhile ends the
 * capture right after it starts).
 *
 * Status -5 (no memory for the capture buffer) holds until a later capture
 * gets its buffer; that capture sets the status back to 0.
 *
 * A failed capture: when a transfer with the board fails during a capture,
 * getCaptureDone still reports its end, but getCaptureCount is 0 and the
 * buffer empty (a decode gives no rows). The board is then re-opened: by the
 * time getCaptureDone returns 1, getHardwareChanged returns 1 and
 * getHardwareStatus tells whether the board answers again (0) or not (-1, -2).
 * An empty bus instead gives done with no hardware change.
 */
#ifndef LIBPROBECORE_H
#define LIBPROBECORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

void* sniffInit(void);
void sniffEnd(void* h);
uint32_t version(char* buf, uint32_t size);
const char* versionX(void);

void setConnect(void* h, int connect);
void setRun(void* h, int flag);
void setStop(void* h, int flag);
int getRun(void* h);
int getStop(void* h);
int getCaptureDone(void* h);
int getHardwareChanged(void* h);
void setNeeded(void* h, uint32_t bytes);
uint64_t getCaptureCount(void* h);

void startDecode(void* h);
int getDecodeDone(void* h);
uint64_t getDecodedCount(void* h);

int getHardwareStatus(void* h);
uint32_t getSerial(void* h, char* buf, uint32_t size);
const char* getSerialX(void* h);

uint32_t getPacketDataRowCount(void* h);
uint32_t getPacketDataRow(void* h, uint32_t index, char* buf, uint32_t size);
const char* getPacketDataRowX(void* h, uint32_t index);
const char* getBoxStrX(void* h, uint32_t index);
const void* linix2rowptr(void* h, uint32_t index);

uint32_t sampleFileRead(void* h, const char* path);

void* loh(void* h);
void* exh(void* h);

#ifdef __cplusplus
}
#endif

#endif /* LIBPROBECORE_H */
