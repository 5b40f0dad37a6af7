// Test helpers for the simulated board: consume a device set-up, produce an open,
// claimed board handle and the bridge's SPI framing done with plain libusb calls.
#pragma once

#include <gtest/gtest.h>
#include <libusb.h>

#include <cstdint>
#include <vector>

#include "kelvosim.h"
#include "qxcp2130.h"

using Tbytes = std::vector<uint8_t>;

class TsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kelvosim::reset();
    ASSERT_EQ(libusb_init(nullptr), 0);
  }
  void TearDown() override {
    closeBoard();
    libusb_exit(nullptr);
    EXPECT_EQ(kelvosim::openHandles(), 0);
    EXPECT_EQ(kelvosim::openLists(), 0);
    EXPECT_EQ(kelvosim::contextRefs(), 0);
  }

  // Opens the list entry `index`, sets configuration 1 when needed and claims
  // interface 0; the endpoints follow the transfer priority byte.
  bool openBoard(int index = 0) {
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(nullptr, &list);
    bool ok = n > index;
    ok = ok && libusb_open(list[index], &Fh) == 0;
    if (n >= 0) libusb_free_device_list(list, 1);
    int config = 0;
    ok = ok && libusb_get_configuration(Fh, &config) == 0;
    if (ok && config == 0) ok = libusb_set_configuration(Fh, 1) == 0;
    ok = ok && libusb_claim_interface(Fh, 0) == 0;
    uint8_t usbConfig[9] = {};
    ok = ok && libusb_control_transfer(Fh, 0xC0, 0x60, 0, 0, usbConfig, 9, 1000) == 9;
    if (ok) {
      FepOut = usbConfig[8] ? 0x01 : 0x02;
      FepIn = usbConfig[8] ? 0x82 : 0x81;
    }
    return ok;
  }

  void closeBoard() {
    if (!Fh) return;
    libusb_release_interface(Fh, 0);
    libusb_close(Fh);
    Fh = nullptr;
  }

  int ctrlOut(uint8_t request, Tbytes data) {
    return libusb_control_transfer(Fh, 0x40, request, 0, 0, data.data(), static_cast<uint16_t>(data.size()), 1000);
  }

  bool selectChannel(int channel) { return ctrlOut(qxcp2130::REQ_SET_GPIO_CS, qxcp2130::chipSelect(channel)) == 2; }

  static Tbytes header(uint8_t command, uint32_t n) { return qxcp2130::header(command, n); }

  bool bulkOut(Tbytes bytes) {
    int moved = 0;
    const int rc = libusb_bulk_transfer(Fh, FepOut, bytes.data(), static_cast<int>(bytes.size()), &moved, 1000);
    return rc == 0 && moved == static_cast<int>(bytes.size());
  }

  bool bulkIn(Tbytes& into, uint32_t n) {
    into.assign(n, 0);
    int moved = 0;
    const int rc = libusb_bulk_transfer(Fh, FepIn, into.data(), static_cast<int>(n), &moved, 1000);
    return rc == 0 && moved == static_cast<int>(n);
  }

  bool spiWrite(const Tbytes& data) {
    bool ok = true;
    for (const Tbytes& part : qxcp2130::writeTransfers(data)) ok = ok && bulkOut(part);
    return ok;
  }

  Tbytes spiRead(uint32_t n) {
    Tbytes in;
    if (!bulkOut(header(qxcp2130::CMD_READ, n)) || !bulkIn(in, n)) in.clear();
    return in;
  }

  Tbytes spiWriteRead(const Tbytes& data) {
    Tbytes in;
    if (!bulkOut(qxcp2130::message(qxcp2130::CMD_WRITE_READ, data)) || !bulkIn(in, static_cast<uint32_t>(data.size())))
      in.clear();
    return in;
  }

  // Channel 0 (configuration port) and channel 1 (application port).
  bool cfgWrite(const Tbytes& data) { return selectChannel(0) && spiWrite(data); }
  Tbytes cfgWriteRead(const Tbytes& data) { return selectChannel(0) ? spiWriteRead(data) : Tbytes(); }
  bool appWrite(const Tbytes& data) { return selectChannel(1) && spiWrite(data); }
  Tbytes appRead(uint32_t n) { return selectChannel(1) ? spiRead(n) : Tbytes(); }

  libusb_device_handle* Fh = nullptr;
  uint8_t FepOut = 0x01;
  uint8_t FepIn = 0x82;
};
