// A plain libusb program for the preload test: lists the devices, then opens the
// first Kelvo board and reads its serial, bridge version and FPGA IDCODE.
#include <libusb.h>

#include <cstdio>

int main() {
  if (libusb_init(nullptr) != 0) return 2;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(nullptr, &list);
  if (n < 0) return 3;
  std::printf("%zd devices\n", n);
  libusb_device* board = nullptr;
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device_descriptor d = {};
    libusb_get_device_descriptor(list[i], &d);
    std::printf("%04x:%04x\n", d.idVendor, d.idProduct);
    if (!board && d.idVendor == 0x10C4 && d.idProduct == 0x8C57) board = list[i];
  }
  int rc = 0;
  libusb_device_handle* h = nullptr;
  if (!board) {
    std::printf("no board\n");
  } else if (libusb_open(board, &h) != 0 || libusb_claim_interface(h, 0) != 0) {
    rc = 4;
  } else {
    unsigned char serial[64] = {};
    libusb_device_descriptor d = {};
    libusb_get_device_descriptor(board, &d);
    libusb_get_string_descriptor_ascii(h, d.iSerialNumber, serial, sizeof serial);
    unsigned char version[2] = {};
    unsigned char cs[2] = {0, 2};
    unsigned char cmd[16] = {0, 0, 2, 0, 8, 0, 0, 0, 0xE0};
    unsigned char reply[8] = {};
    int moved = 0;
    const bool ok = libusb_control_transfer(h, 0xC0, 0x11, 0, 0, version, 2, 1000) == 2 &&
                    libusb_control_transfer(h, 0x40, 0x25, 0, 0, cs, 2, 1000) == 2 &&
                    libusb_bulk_transfer(h, 0x01, cmd, 16, &moved, 1000) == 0 &&
                    libusb_bulk_transfer(h, 0x82, reply, 8, &moved, 1000) == 0 && moved == 8;
    if (!ok) rc = 5;
    std::printf("serial=%s version=%02x%02x idcode=%02x%02x%02x%02x\n", serial, version[0], version[1], reply[4],
                reply[5], reply[6], reply[7]);
    libusb_release_interface(h, 0);
  }
  if (h) libusb_close(h);
  libusb_free_device_list(list, 1);
  libusb_exit(nullptr);
  return rc;
}
