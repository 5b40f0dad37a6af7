#include "libvklow.h"

#include "vkboard.h"
#include "vkchips.h"

using namespace kelvo;

namespace {

constexpr uint8_t GPIO_PUSH_PULL = 2;
constexpr uint8_t SPI_WORD_MODE0_12MHZ = 0x08;
constexpr uint8_t CLOCK_DIV_24MHZ = 1;

constexpr uint8_t MEM_CTRL_QUAD = RC_CSnOn | RC_OEon | RC_QSPI | RC_NEXT_NOOP;   // 0x10
constexpr uint8_t MEM_CTRL_DUAL = RC_CSnOn | RC_OEon | RC_DSPI | RC_NEXT_NOOP;   // 0x14
constexpr uint8_t MEM_CTRL_SINGLE = RC_CSnOn | RC_OEon | RC_SPI | RC_NEXT_NOOP;  // 0x18
constexpr uint8_t MEM_CTRL_OFF = RC_CSnOff;                                      // 0x20
constexpr uint8_t MEM_CTRL_WRITE = RC_CSnOn | RC_OEon | RC_QSPI | RC_NEXT_WR;    // 0x11
constexpr uint8_t MEM_CTRL_READ = RC_CSnOn | RC_OEoff | RC_QSPI | RC_NEXT_RD;    // 0x02
constexpr uint8_t MEM_CTRL_IDLE = RC_CSnOn | RC_OEoff | RC_QSPI | RC_NEXT_IDLE;  // 0x03

constexpr const char* CREDIT_TEXT = "Quellix board access layer for the Kelvo USB analyser, built ";

void addAddress(TllBuf& aBuf, uint32_t aAddress) {
  aBuf.tdBE((aAddress >> 16) & 0xFF).tdBE((aAddress >> 8) & 0xFF).tdBE(aAddress & 0xFF);
}

}  // namespace

TlibVkLow::TlibVkLow() : pLow(new TvkLow) {}

TlibVkLow::~TlibVkLow() = default;

bool TlibVkLow::snifferOpen() {
  TvkLow& lo = *pLow;
  if (!lo.open()) return false;
  uint8_t version[2] = {0x11, 0x22};
  uint8_t idcode[8] = {0xE0, 0, 0, 0, 0, 0, 0, 0};
  const bool ok = lo.set_gpio(GPIO_FPGA_RESET, GPIO_PUSH_PULL, 0) && lo.set_gpio(GPIO_FPGA_RESET, GPIO_PUSH_PULL, 1) &&
                  lo.get_readonly_version(version) && lo.assignEndpoints() && lo.set_clockdiv(CLOCK_DIV_24MHZ) &&
                  lo.set_spi_word(0, SPI_WORD_MODE0_12MHZ) && lo.set_spi_word(1, SPI_WORD_MODE0_12MHZ) &&
                  lo.cfgxWriteRead(idcode, sizeof idcode);
  if (!ok) xprintf("\nboard: bridge set-up failed (last libusb error %d)\n", lo.getLastError());
  return ok;
}

bool TlibVkLow::sniffSetCount(uint32_t aCount) {
  TllBuf b;
  b.ta(REG_COUNT).td(aCount >> 12).td(aCount >> 6).td(aCount);
  return appWrite(b);
}

bool TlibVkLow::sniffGetCount(uint32_t& aValue) {
  aValue = 0;
  if (!wrFpgaRegIx(REG_COUNT)) return false;
  uint8_t reply[8] = {};
  bool ok = appRead(reply, 5);
  uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = (word << 8) | reply[i];
  aValue = static_cast<uint32_t>((word >> 8) & 0x3FFFF);  // byte 0 is the port's dummy
  return ok;
}

bool TlibVkLow::sniffDataRead(uint8_t* aBuf, uint32_t aLen, uint32_t& aGot) {
  bool ok = wrFpgaRegIx(REG_DATA_PORT) && appRead(aBuf, aLen);
  aGot = ok ? aLen : 0;
  return ok;
}

bool TlibVkLow::QSPIinit() {
  TllBuf b;
  // Out of quad mode: RSTIO as two 4-bit groups.
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_QUAD).ta(REG_MEM_DATA).td(Q_CMD_RSTIO >> 4).td(Q_CMD_RSTIO & 0x0F);
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_OFF);
  // Out of dual mode: RSTIO as four 2-bit groups.
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_DUAL).ta(REG_MEM_DATA);
  for (int shift = 6; shift >= 0; shift -= 2) b.td((Q_CMD_RSTIO >> shift) & 0x03);
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_OFF);
  // Now in single-bit mode: EQIO, most significant bit first.
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_SINGLE).ta(REG_MEM_DATA);
  for (int bit = 7; bit >= 0; --bit) b.td((Q_CMD_EQIO >> bit) & 0x01);
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_OFF);
  return appWrite(b);
}

bool TlibVkLow::QSPIwrStart(uint32_t aAddress) {
  TllBuf b;
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_QUAD).ta(REG_MEM_DATA).tdBE(Q_CMD_WRITE);
  addAddress(b, aAddress);
  for (unsigned i = 0; i < kelvo::RAW_MAGIC_SIZE; ++i) b.tdBE(static_cast<uint8_t>(kelvo::RAW_MAGIC[i]));
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_WRITE);
  return appWrite(b);
}

bool TlibVkLow::QSPIrdStart(uint32_t aAddress) {
  TllBuf b;
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_QUAD).ta(REG_MEM_DATA).tdBE(Q_CMD_READ);
  addAddress(b, aAddress);
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_READ).ta(REG_MEM_DATA);
  return appWrite(b);
}

bool TlibVkLow::QSPItoIdle() {
  TllBuf b;
  b.ta(REG_MEM_CTRL).td(MEM_CTRL_IDLE);
  return appWrite(b);
}

bool TlibVkLow::doRun(uint32_t aCount) {
  bool ok = sniffSetCount(aCount - 1) && wrFpgaReg(REG_CONTROL, 1) && wrFpgaReg(REG_CONTROL, 0) && QSPIinit() &&
            QSPIwrStart(0);
  wrFpgaReg(REG_CONTROL, 2);  // sent also when arming failed
  return ok;
}

bool TlibVkLow::doIdle(uint32_t aCount) {
  bool ok = QSPItoIdle();
  if (ok && aCount != 0) ok = QSPIrdStart(0);
  return ok;
}

bool TlibVkLow::getString(std::string& aText, int aSelector) {
  switch (aSelector) {
    case 1: aText = std::string(CREDIT_TEXT) + __DATE__; return true;
    case 2: aText = std::string(__DATE__) + "," + __TIME__; return true;
    case 3: aText = pLow->getSerial(); return true;
    default: aText = "?"; return false;
  }
}
