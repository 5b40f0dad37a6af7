// The simulated CP2130: its vendor requests, the bulk command framing, the two
// endpoint layouts and the chip selects, checked by the bytes each SPI port saw.
#include "simtest.h"

using namespace kelvosim;

namespace {

struct TrequestCase {
  const char* name;
  uint8_t type, request;
  Tbytes data;  // OUT: sent; IN: expected reply
  int result;
};

}  // namespace

TEST_F(TsimTest, VendorRequestsAnswerOrStall) {
  TdevConfig c = boardConfig();
  c.FversionMajor = 1;
  c.FversionMinor = 7;
  addDevice(c);
  ASSERT_TRUE(openBoard());
  const std::vector<TrequestCase> table = {
      {"set gpio cs", 0x40, 0x25, {1, 2}, 2},
      {"set gpio", 0x40, 0x23, {7, 2, 1}, 3},
      {"set clock divider", 0x40, 0x47, {1}, 1},
      {"set spi word", 0x40, 0x31, {0, 8}, 2},
      {"readonly version", 0xC0, 0x11, {1, 7}, 2},
      {"usb config", 0xC0, 0x60, {0xC4, 0x10, 0x57, 0x8C, 0x32, 0x00, 0x01, 0x00, 0x01}, 9},
      {"cs too short", 0x40, 0x25, {1}, LIBUSB_ERROR_PIPE},
      {"cs channel 11", 0x40, 0x25, {11, 2}, LIBUSB_ERROR_PIPE},
      {"gpio too long", 0x40, 0x23, {7, 2, 1, 0}, LIBUSB_ERROR_PIPE},
      {"unknown request", 0x40, 0x99, {0}, LIBUSB_ERROR_PIPE},
      {"class request", 0x21, 0x25, {1, 2}, LIBUSB_ERROR_PIPE},
  };
  unsigned stalls = 0;
  for (const TrequestCase& t : table) {
    SCOPED_TRACE(t.name);
    Tbytes buf = t.type & 0x80 ? Tbytes(t.data.size(), 0) : t.data;
    EXPECT_EQ(libusb_control_transfer(Fh, t.type, t.request, 0, 0, buf.data(), static_cast<uint16_t>(buf.size()), 1000),
              t.result);
    if (t.type & 0x80) {
      EXPECT_EQ(buf, t.data);
    }
    if (t.result < 0) ++stalls;
  }
  const TbridgeState s = bridgeState(0);
  EXPECT_EQ(s.FcsEnabled, 2u);
  EXPECT_EQ(s.FgpioMode[7], 2);
  EXPECT_EQ(s.FgpioLevel[7], 1);
  EXPECT_EQ(s.FclockDivider, 1);
  EXPECT_EQ(s.FspiWord[0], 8);
  EXPECT_EQ(s.FspiWord[1], -1);
  EXPECT_EQ(s.FprotocolErrors, stalls);
  // An IN request asking for less gets the front of the reply.
  uint8_t two[2];
  EXPECT_EQ(libusb_control_transfer(Fh, 0xC0, 0x60, 0, 0, two, 2, 1000), 2);
  EXPECT_EQ(two[0], 0xC4);
}

TEST_F(TsimTest, TransferPriorityChoosesTheEndpoints) {
  for (uint8_t prio : {0, 1, 5}) {
    SCOPED_TRACE(static_cast<int>(prio));
    closeBoard();
    reset();
    ASSERT_EQ(libusb_init(nullptr), 0);
    TdevConfig c = boardConfig();
    c.FtransferPriority = prio;
    addDevice(c);
    ASSERT_TRUE(openBoard());
    EXPECT_EQ(FepOut, prio ? 0x01 : 0x02);
    EXPECT_EQ(FepIn, prio ? 0x82 : 0x81);
    ASSERT_TRUE(selectChannel(0));
    EXPECT_EQ(spiWriteRead({0xE0, 0, 0, 0, 0, 0, 0, 0}), Tbytes({0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x2B, 0x90, 0x43}));
    uint8_t b[8] = {};
    int moved = 0;
    EXPECT_EQ(libusb_bulk_transfer(Fh, prio ? 0x02 : 0x01, b, 8, &moved, 1000), LIBUSB_ERROR_IO);
    EXPECT_EQ(libusb_bulk_transfer(Fh, prio ? 0x81 : 0x82, b, 8, &moved, 1000), LIBUSB_ERROR_IO);
    libusb_config_descriptor* cfg = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(libusb_get_device(Fh), &cfg), 0);
    ASSERT_EQ(cfg->interface->altsetting->bNumEndpoints, 2);
    EXPECT_EQ(cfg->interface->altsetting->endpoint[0].bEndpointAddress, prio ? 0x01 : 0x81);
    EXPECT_EQ(cfg->interface->altsetting->endpoint[1].bEndpointAddress, prio ? 0x82 : 0x02);
    libusb_free_config_descriptor(cfg);
    libusb_exit(nullptr);
  }
  ASSERT_EQ(libusb_init(nullptr), 0);
}

// A write of n bytes: one bulk transfer of header and up to 56 bytes, then the rest;
// the application port sees one transaction of exactly the n bytes.
TEST_F(TsimTest, WritesSplitOverPacketsAreOneTransaction) {
  addDevice(boardConfig());
  ASSERT_TRUE(openBoard());
  ASSERT_TRUE(selectChannel(1));
  for (size_t n : {0u, 1u, 56u, 57u, 120u, 200u}) {
    SCOPED_TRACE(n);
    Tbytes data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(0x80 | (i & 0x3F));  // data writes
    clearLog();
    ASSERT_TRUE(spiWrite(data));
    const std::vector<TxferRecord> x = transfers();
    ASSERT_EQ(x.size(), n > 56 ? 2u : 1u);
    EXPECT_EQ(x[0].Fmoved, 8 + std::min<size_t>(n, 56));
    if (n > 56) {
      EXPECT_EQ(x[1].Fmoved, n - 56);
    }
    const std::vector<TspiRecord> spi = spiLog();
    ASSERT_EQ(spi.size(), 1u);
    EXPECT_EQ(spi[0].Fchannel, 1);
    EXPECT_EQ(spi[0].Fcommand, 1);
    EXPECT_EQ(spi[0].Fmosi, data);
  }
  EXPECT_EQ(bridgeState(0).FprotocolErrors, 0u);
}

TEST_F(TsimTest, BadFramingCountsProtocolErrors) {
  addDevice(boardConfig());
  ASSERT_TRUE(openBoard());
  ASSERT_TRUE(selectChannel(1));
  clearLog();
  Tbytes surplus = header(1, 2);
  for (uint8_t b : {0x44, 0x81, 0x82}) surplus.push_back(b);
  ASSERT_TRUE(bulkOut(surplus));       // one byte more than announced
  ASSERT_TRUE(bulkOut({0, 0, 1, 0}));  // a header cut short
  ASSERT_TRUE(bulkOut(header(7, 1)));  // no such command
  ASSERT_TRUE(bulkOut(header(0, 2)));  // a read whose reply is never fetched...
  ASSERT_TRUE(bulkOut(header(0, 2)));  // ...before the next one
  const std::vector<TspiRecord> spi = spiLog();
  ASSERT_EQ(spi.size(), 3u);
  EXPECT_EQ(spi[0].Fmosi, Tbytes({0x44, 0x81}));
  EXPECT_EQ(bridgeState(0).FprotocolErrors, 4u);
  // The reply of the last read is still there; then nothing is, and the host times out.
  Tbytes in;
  EXPECT_TRUE(bulkIn(in, 2));
  const uint64_t before = now();
  int moved = 0;
  EXPECT_EQ(libusb_bulk_transfer(Fh, FepIn, in.data(), 2, &moved, 100), LIBUSB_ERROR_TIMEOUT);
  EXPECT_GE(now() - before, 100u * 12000u);
}

TEST_F(TsimTest, ChipSelectRoutesTransactions) {
  addDevice(boardConfig());
  ASSERT_TRUE(openBoard());
  clearLog();
  // No channel selected yet: nothing answers, MISO floats high.
  EXPECT_EQ(spiRead(3), Tbytes({0xFF, 0xFF, 0xFF}));
  ASSERT_TRUE(selectChannel(0));
  EXPECT_EQ(spiWriteRead({0xC0, 0, 0, 0, 0, 0, 0, 0}), Tbytes({0xFF, 0xFF, 0xFF, 0xFF, 0x8E, 0x5A, 0xEC, 0x17}));
  ASSERT_TRUE(selectChannel(1));
  ASSERT_TRUE(spiWrite({0x44, 0x81}));  // register 4 gets 1
  EXPECT_EQ(spiRead(2), Tbytes({0x00, 0x01}));
  EXPECT_EQ(ctrlOut(0x25, {1, 0}), 2);  // channel 1 disabled again
  EXPECT_EQ(spiRead(2), Tbytes({0xFF, 0xFF}));
  const std::vector<TspiRecord> spi = spiLog();
  ASSERT_EQ(spi.size(), 5u);
  EXPECT_EQ(spi[0].Fchannel, -1);
  EXPECT_EQ(spi[1].Fchannel, 0);
  EXPECT_EQ(spi[1].Fcommand, 2);
  EXPECT_EQ(spi[2].Fchannel, 1);
  EXPECT_EQ(spi[3].Fmiso, Tbytes({0x00, 0x01}));
  EXPECT_EQ(bridgeState(0).FcsRequests, 3u);
}
