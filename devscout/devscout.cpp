// Device finder: consumes the USB device list of libusb-1.0, produces a listing on
// standard output with the first Kelvo board marked, the outcome of test-opening that
// board, and exit code 0 when it opened, claimed, released and closed, else 1.
#include <libusb.h>

#include <cstdio>

#include "vkboard.h"

namespace {

// Only the board's own product id marks a board here, where the board layer
// also takes the bridge's stock id: devscout checks that a Kelvo board is
// plugged in, and any other device built on the same bridge carries that one.
constexpr uint16_t BOARD_VENDOR = kelvo::VENDOR_ID;
constexpr uint16_t BOARD_PRODUCT = kelvo::PRODUCT_ID_BOARD;
constexpr char BUILD_STAMP[] = __DATE__ " " __TIME__;

// Opens and claims the board the way the board layer does, then lets it go again.
bool openTest(libusb_device* dev) {
  libusb_device_handle* handle = nullptr;
  if (libusb_open(dev, &handle) != 0) return false;
  int config = 99;
  bool ok = libusb_get_configuration(handle, &config) == 0;
  if (ok && config == 0) ok = libusb_set_configuration(handle, 1) == 0;
  if (ok) {
    const int active = libusb_kernel_driver_active(handle, 0);
    if (active == 1)
      ok = libusb_detach_kernel_driver(handle, 0) == 0;
    else
      ok = active == 0;
  }
  ok = ok && libusb_claim_interface(handle, 0) == 0;
  ok = ok && libusb_release_interface(handle, 0) == 0;
  libusb_close(handle);
  return ok;
}

bool doList() {
  libusb_init(NULL);
  printf("\nscanning for USB devices...");
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(NULL, &list);
  if (count < 0) {
    puts(" error when scanning");
    libusb_exit(NULL);  // the context is not left behind
    return false;
  }
  printf(" %zd USB devices detected\n", count);
  ssize_t board = -1;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor desc = {};  // stays zero when the read fails
    libusb_get_device_descriptor(list[i], &desc);
    printf("\n%4zd  VID=%04x  PID=%04x  bcdDevice=%04x", i, desc.idVendor, desc.idProduct, desc.bcdDevice);
    if (board < 0 && desc.idVendor == BOARD_VENDOR && desc.idProduct == BOARD_PRODUCT) {
      board = i;
      printf("  *** Quellix ***");
    }
  }
  bool found = false;
  const char* outcome = "\n\ncould not detect a Kelvo board.";
  if (board >= 0) {
    printf("\n\nQuellix (#%zd) detected... attempting to open...", board);
    found = openTest(list[board]);
    outcome = found ? " opened/closed OK." : " could not be opened.";
  }
  printf("%s", outcome);
  libusb_free_device_list(list, 1);
  libusb_exit(NULL);
  printf("\n\n%s\n", found ? "SUCCEEDED" : "FAILED");
  return found;
}

}  // namespace

int main() {
  printf("devscout [Version: %s]\n", BUILD_STAMP);
  return doList() ? 0 : 1;
}
