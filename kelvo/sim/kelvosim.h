// Control interface of the simulated Kelvo board: tests set up the USB device list,
// the board's FPGA and its faults, pick the bus traffic the capture logic records,
// and read back the transfer log and the model's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vkboard.h"
#include "vkchips.h"

// The simulator provides the libusb-1.0 functions themselves (same signatures and
// result codes as <libusb.h>); this header is only the side door for tests.
//
// Every function here is thread-safe (one lock serialises the whole model, libusb
// entry points included). Device indices are positions in the device list, in the
// order the devices were added (libusb's list order).
//
// Environment (read once, at the first libusb call or control call, unless the test
// already called reset(); configureFromEnv() re-reads it). When the first use set the
// simulation up this way, the in-memory log stays off (a preloaded program cannot read
// it); reset() and configureFromEnv() turn it on.
//   KELVOSIM_DEVICES   device list, items separated by ';', each "board" or "other"
//                      followed by ",key=value" pairs. Numbers are C literals
//                      (0x.. hex, else decimal). Keys: vid pid bcd serial
//                      manufacturer product bus addr ports(1.4.2) config(0|1)
//                      driver(0|1 kernel driver on interface 0) held(0|1 interface
//                      claimed by another program) denied(0|1 the user may not
//                      open the device: LIBUSB_ERROR_ACCESS) openrc getconfigrc
//                      setconfigrc driverrc detachrc stringrc (libusb results to
//                      return) prio(transfer priority byte) idcode usercode feabits
//                      flash(0|1 valid image in flash at power-up) busy(0|1 FPGA
//                      busy forever) erasepolls pagepolls.
//                      Unset: one default board. Empty: no devices.
//                      Example: "other,vid=0x1d6b,pid=2;board,pid=0x87a0,serial=KV7"
//   KELVOSIM_FAULTS    items separated by ';':
//                        "unplug=N[@dev]"  the device (default 0) disappears after N
//                                          more transfers
//                        "list=RC"         libusb_get_device_list returns RC (< 0)
//                        "xfer=KIND[,dev=D][,request=R][,endpoint=E][,skip=S]
//                               [,count=C][,rc=RC][,short=K]"
//                                          a transfer fault (TfaultRule); KIND is
//                                          any|control|bulkout|bulkin
//   KELVOSIM_CAPTURE   raw capture file to replay: the bytes after its 8-byte magic
//                      are the line-state stream, then an idle bus (wins over
//                      KELVOSIM_TRAFFIC)
//   KELVOSIM_TRAFFIC   scenario (default) | quiet (nothing recorded: a run never fills)
//                      | idle (J held: records fill the memory slowly)
//   KELVOSIM_TICKS_PER_TRANSFER  simulated bus time per USB transfer, in ticks
//                      (1/12 us); default 12000 (1 ms)
//   KELVOSIM_LOG       file to which every transfer is appended as one text line
//                      (formatRecord)
//   KELVOSIM_IMAGE_640, KELVOSIM_IMAGE_1200  files of frame bytes (16 per frame) that
//                      the FPGA accepts at refresh (setReferenceImage)

// The board as modelled:
// - Time: every USB transfer advances the bus time by the ticks per transfer; a bulk IN
//   with nothing to read waits its timeout. The capture logic writes each record
//   (symbol byte and its count bytes) once the run it codes has ended on the bus.
// - CP2130: the six requests stall (LIBUSB_ERROR_PIPE) on a wrong length; a bulk OUT
//   packet starts with the 8-byte header, a write's data may run on over packets and
//   transfers; MISO of no selected device reads 0xFF. GPIO 7 low (output) holds the
//   capture logic in reset.
// - Configuration port: replies follow the 4 command bytes. An erase answers busy to
//   FeraseBusyPolls LSC_CHECK_BUSY reads (a page to FpageBusyPolls); commands with an
//   effect are ignored while busy, and erase/program/usercode/feature-bit commands
//   outside configuration mode. Offline mode (ISC_ENABLE) silences the capture logic,
//   transparent mode (ISC_ENABLE_X) does not. LSC_REFRESH boots from flash: a
//   programmed image must be whole (599 or 792 pages by IDCODE), DONE-programmed and
//   equal to the reference image when one is set; otherwise Fail and CRC ERR.
// - Capture logic (channel 1): each read starts with one dummy byte. Register 4: with
//   0x20 set, bit 2 connects the target; else bit 0 clears (the down counter loads
//   register 14, full is cleared) and bit 1 arms a run that replays the traffic from
//   its start. Register 14 reads the 18-bit down counter: a clear loads it with the
//   written count plus 2, each byte written takes one off, and the byte that takes
//   it below 2 wraps it to 0x3FFFF (bit 17: full) and recording stops. So a count of
//   n - 1 records n bytes, and after k bytes the counter reads n + 1 - k. Bytes are recorded only while register 12's
//   next action is write. Register 12 with chip select off, or next action idle, ends the SRAM access. Memory reads
//   pass one byte register, so data follows the port's dummy, that register and (dual and quad mode) the SRAM's dummy
//   byte: 3 bytes in quad mode. Register 35 reads the current run's recorded bytes from the start of a select.
// - SRAM: 23LC1024-like, starts in single mode filled with 0xFF; EQIO, EDIO and RSTIO
//   take effect when chip select rises.

namespace kelvosim {

// Identification values of the two MachXO2 models and of their current images.
using kelvo::IDCODE_1200HC;
using kelvo::IDCODE_640HC;
constexpr uint32_t USERCODE_640HC = 0x8E5AEC17;
constexpr uint32_t USERCODE_1200HC = 0x5EF2715F;
constexpr uint32_t FRAMES_640HC = 599;
constexpr uint32_t FRAMES_1200HC = 792;

// One USB device of the list. A board (FisBoard) has a CP2130, the FPGA and the
// SRAM behind it; any other device stalls every vendor request and has no bulk
// endpoints.
struct TdevConfig {
  bool FisBoard = true;
  uint16_t Fvendor = kelvo::VENDOR_ID;
  uint16_t Fproduct = kelvo::PRODUCT_ID_BOARD;
  uint16_t FbcdDevice = 0x0100;
  uint8_t FdeviceClass = 0;
  std::string Fmanufacturer = "Silicon Labs";
  std::string FproductName = "Kelvo USB Analyser";
  std::string Fserial = "KV000001";  // empty: the device has no serial string
  uint8_t Fbus = 1;
  uint8_t Faddress = 0;               // 0: the next free address on the bus
  std::vector<uint8_t> Fports = {1};  // port path from the root hub
  int Fspeed = 2;                     // LIBUSB_SPEED_FULL
  int FactiveConfig = 1;              // 0: unconfigured
  bool FkernelDriver = false;         // a kernel driver is bound to interface 0
  bool FheldElsewhere = false;        // another program has claimed interface 0
  bool FaccessDenied = false;         // the device node denies this user: open fails
  // libusb results forced on the open sequence (0: behave normally)
  int FopenResult = 0;
  int FgetConfigResult = 0;
  int FsetConfigResult = 0;
  int FdriverActiveResult = 0;  // < 0: libusb_kernel_driver_active fails
  int FdetachResult = 0;
  int FstringResult = 0;  // < 0: every string descriptor read fails
  // CP2130
  uint8_t FtransferPriority = 1;  // 1: OUT 0x01 / IN 0x82; 0: IN 0x81 / OUT 0x02
  uint8_t FversionMajor = 1, FversionMinor = 3;
  // MachXO2
  uint32_t Fidcode = IDCODE_640HC;
  uint32_t Fusercode = USERCODE_640HC;
  uint16_t Ffeabits = 0x0520;
  uint64_t FfeatureRow = 0x0000000000000000ull;
  uint64_t FtraceId = 0x0123456789ABCDEFull;
  bool FflashValid = true;       // the flash holds a bootable image at power-up
  bool FbusyForever = false;     // LSC_CHECK_BUSY never reports ready
  unsigned FeraseBusyPolls = 3;  // busy polls answered busy after an erase
  unsigned FpageBusyPolls = 1;   // ... after programming one page
};

TdevConfig boardConfig(uint16_t product = kelvo::PRODUCT_ID_BOARD);      // 640HC, image current
TdevConfig board1200Config(uint16_t product = kelvo::PRODUCT_ID_BOARD);  // 1200HC, image current
TdevConfig otherConfig(uint16_t vendor, uint16_t product);               // a plain device

enum TxferKind { XK_ANY = 0, XK_CONTROL = 1, XK_BULK_OUT = 2, XK_BULK_IN = 3 };

// A transfer fault: of the transfers that match, the first Fskip pass, then Fcount
// fail (0: all from then on). A failing transfer either returns Fresult (< 0) and
// moves nothing, or (FshortBy > 0) succeeds but moves FshortBy bytes fewer than
// asked (an OUT delivers only the bytes moved).
struct TfaultRule {
  int Fdevice = -1;  // -1: any device
  TxferKind Fkind = XK_ANY;
  int Frequest = -1;   // control bRequest, -1: any
  int Fendpoint = -1;  // bulk endpoint address, -1: any
  unsigned Fskip = 0;
  unsigned Fcount = 1;
  int Fresult = -1;  // LIBUSB_ERROR_IO
  unsigned FshortBy = 0;
};

// One transfer as the device saw it.
struct TxferRecord {
  uint64_t Fseq = 0;  // 0, 1, 2 ... since the last clearLog
  int Fdevice = 0;
  TxferKind Fkind = XK_CONTROL;
  uint8_t FrequestType = 0;  // control only
  uint8_t Frequest = 0;
  uint16_t Fvalue = 0;
  uint16_t Findex = 0;
  uint8_t Fendpoint = 0;       // bulk only
  uint32_t Flength = 0;        // bytes asked for
  int Fresult = 0;             // libusb result (control: bytes moved or error; bulk: 0 or error)
  uint32_t Fmoved = 0;         // bytes moved
  std::vector<uint8_t> Fdata;  // OUT: the bytes delivered; IN: the bytes returned
  uint64_t Ftick = 0;          // simulated time when it ran
};

// One SPI transaction of the bridge (one bulk command), as the FPGA saw it.
struct TspiRecord {
  int Fdevice = 0;
  int Fchannel = -1;           // lowest enabled chip select, -1: none
  uint8_t Fcommand = 0;        // 0 read, 1 write, 2 write-read
  std::vector<uint8_t> Fmosi;  // bytes written (empty for a read)
  std::vector<uint8_t> Fmiso;  // bytes read back (empty for a write)
};

// Text line written to KELVOSIM_LOG, e.g.
//   "C 0 40 25 0000 0000 2 2 : 01 02"          control: dev type req value index len result : data
//   "B 0 01 64 0 64 : 00 00 01 00 38 00 00 00 ..."   bulk: dev endpoint len result moved : data
std::string formatRecord(const TxferRecord& r);

struct TusbState {
  bool Fpresent = false;  // still plugged in
  int FactiveConfig = 0;
  bool FkernelDriver = false;  // driver bound to interface 0 now
  unsigned Fdetaches = 0;      // successful kernel driver detaches
  unsigned FsetConfigs = 0;    // successful libusb_set_configuration calls
  unsigned Fopens = 0;         // successful libusb_open calls
  unsigned Fcloses = 0;
  int FopenHandles = 0;   // handles open now
  bool Fclaimed = false;  // interface 0 claimed by us now
  unsigned Fclaims = 0;
  unsigned Freleases = 0;
  bool FclosedWhileClaimed = false;  // a handle was closed with interface 0 claimed
};

struct TbridgeState {
  uint8_t FgpioMode[11] = {};
  uint8_t FgpioLevel[11] = {};
  int FclockDivider = -1;  // -1: never set
  int FspiWord[11] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  unsigned FcsEnabled = 0;       // bit per channel
  int FlastCsChannel = -1;       // channel of the last Set_GPIO_Chip_Select
  unsigned FcsRequests = 0;      // Set_GPIO_Chip_Select requests seen
  unsigned FprotocolErrors = 0;  // bad headers, surplus bytes, stalled requests
  uint8_t FepOut = 0x01, FepIn = 0x82;
  uint32_t FpendingIn = 0;  // read bytes waiting for a bulk IN
};

enum TcfgMode { CM_USER = 0, CM_OFFLINE = 1, CM_TRANSPARENT = 2 };

struct TfpgaState {
  uint32_t Fidcode = 0;
  uint32_t Fusercode = 0;
  uint16_t Ffeabits = 0;
  uint32_t Fstatus = 0;  // what LSC_READ_STATUS answers now
  TcfgMode Fmode = CM_USER;
  bool Fconfigured = false;  // the capture logic runs
  bool FflashDone = false;   // DONE bit programmed in flash
  uint32_t FpagePointer = 0;
  uint32_t FpagesProgrammed = 0;  // pages written since the last erase
  unsigned Ferases = 0;
  unsigned FprogramCount = 0;  // PROGRAM_DONE after at least one page
  unsigned Frefreshes = 0;
  unsigned FusercodeWrites = 0;
  unsigned FfeabitsWrites = 0;
  unsigned FbusyPolls = 0;         // LSC_CHECK_BUSY reads
  unsigned FrejectedCommands = 0;  // sent while busy, or needing configuration mode
  unsigned FunknownCommands = 0;
  std::vector<uint8_t> Fflash;  // programmed pages, 16 bytes each, in page order
};

enum TsramMode { SM_SPI = 0, SM_SDI = 1, SM_SQI = 2 };

struct TcaptureState {
  uint8_t Fcontrol = 0;     // last value written to register 4
  uint8_t FmemCtrl = 0x20;  // register 12
  uint32_t FcountReg = 0;   // register 14 as written (18 bits)
  uint32_t Fcounter = 0;    // down counter, what register 14 reads
  bool Farmed = false;      // a run records bus traffic
  bool Ffull = false;
  uint64_t Frecorded = 0;  // capture bytes clocked into the SRAM this run
  bool FtargetConnected = false;
  TsramMode FsramMode = SM_SPI;
  uint32_t FsramAddress = 0;  // the SRAM's address counter
  unsigned Fruns = 0;         // runs armed
};

// ---- set-up
void reset();                        // no devices, no faults, scenario traffic, 12000 ticks per
                                     // transfer, empty log, logging on, time 0; handles, lists
                                     // and contexts from before are forgotten (using them
                                     // afterwards counts as misuse, nothing is touched)
bool configureFromEnv();             // reset(), then apply the KELVOSIM_* variables
int addDevice(const TdevConfig& c);  // returns its index
int deviceCount();
void unplug(int dev);  // gone from new lists; its handles answer LIBUSB_ERROR_NO_DEVICE
void replug(int dev);  // back as a new device (new address), board powered up afresh
void unplugAfter(int dev, unsigned transfers);
void setListResult(int rc);  // libusb_get_device_list returns rc (0: normal)
void setHeldElsewhere(int dev, bool held);
void setAccessDenied(int dev, bool denied);
void setKernelDriver(int dev, bool bound);
void setIdcode(int dev, uint32_t idcode);
void setUsercode(int dev, uint32_t usercode);
void setBusyForever(int dev, bool busy);
void setReferenceImage(uint32_t idcode, const uint8_t* frames, size_t numFrames);  // null: any

// ---- faults
void addFault(const TfaultRule& rule);
void clearFaults();

// ---- bus traffic recorded by the capture logic (each run replays it from its start)
void setTrafficScenario();                                      // built-in enumeration scenario
void setTrafficQuiet();                                         // nothing is recorded
void setTrafficIdle();                                          // an idle bus only
void setTrafficStream(const std::vector<uint8_t>& lineStates);  // then an idle bus
bool setTrafficFile(const std::string& path);                   // raw capture file; false: unusable
std::vector<uint8_t> scenarioStream();                          // the scenario's line-state stream
void setTicksPerTransfer(uint64_t ticks);
void advanceTicks(uint64_t ticks);
uint64_t now();  // simulated time in ticks

// ---- log
void setLogging(bool on);
void clearLog();
std::vector<TxferRecord> transfers();
std::vector<TspiRecord> spiLog();
bool setLogFile(const std::string& path);  // empty: no file

// ---- model state
TusbState usbState(int dev);
TbridgeState bridgeState(int dev);
TfpgaState fpgaState(int dev);
TcaptureState captureState(int dev);
std::vector<uint8_t> sram(int dev);                        // all 128 KiB
void setSram(int dev, const std::vector<uint8_t>& bytes);  // from address 0
int contextRefs();                                         // libusb_init minus libusb_exit on the default context
int openLists();                                           // device lists not yet freed
int openHandles();                                         // handles not yet closed, all devices
unsigned misuseCount();                                    // calls on closed handles, freed lists, without init

}  // namespace kelvosim
