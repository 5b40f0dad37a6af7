// The libusb-1.0 functions, answered by the simulation: same signatures and result
// codes as the real library, so programs and tests cannot tell the difference.
#include <libusb.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "simworld.h"

using kelvosim::TsimDevice;
using kelvosim::TsimWorld;

namespace {

// The world under its lock, set up on first use.
class Tguard {
 public:
  Tguard() : Fw(kelvosim::world()), Fg(Fw.Flock) { Fw.ensure(); }
  TsimWorld* operator->() { return &Fw; }
  TsimWorld& w() { return Fw; }

 private:
  TsimWorld& Fw;
  std::lock_guard<std::recursive_mutex> Fg;
};

TsimDevice* devOf(libusb_device* dev) { return dev ? dev->Fdev.get() : nullptr; }

const char* errorName(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    default: return "**UNKNOWN**";
  }
}

const char* errorText(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "Success";
    case LIBUSB_ERROR_IO: return "Input/Output Error";
    case LIBUSB_ERROR_INVALID_PARAM: return "Invalid parameter";
    case LIBUSB_ERROR_ACCESS: return "Access denied (insufficient permissions)";
    case LIBUSB_ERROR_NO_DEVICE: return "No such device (it may have been disconnected)";
    case LIBUSB_ERROR_NOT_FOUND: return "Entity not found";
    case LIBUSB_ERROR_BUSY: return "Resource busy";
    case LIBUSB_ERROR_TIMEOUT: return "Operation timed out";
    case LIBUSB_ERROR_OVERFLOW: return "Overflow";
    case LIBUSB_ERROR_PIPE: return "Pipe error";
    case LIBUSB_ERROR_INTERRUPTED: return "System call interrupted (perhaps due to signal)";
    case LIBUSB_ERROR_NO_MEM: return "Insufficient memory";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "Operation not supported or unimplemented on this platform";
    case LIBUSB_ERROR_OTHER: return "Other error";
    default: return "Unknown error";
  }
}

// A configuration descriptor as libusb hands it out: one allocation per level.
libusb_config_descriptor* buildConfig(const std::vector<uint8_t>& raw) {
  auto* c = static_cast<libusb_config_descriptor*>(std::calloc(1, sizeof(libusb_config_descriptor)));
  auto* itf = static_cast<libusb_interface*>(std::calloc(1, sizeof(libusb_interface)));
  auto* alt = static_cast<libusb_interface_descriptor*>(std::calloc(1, sizeof(libusb_interface_descriptor)));
  const uint8_t eps = raw[13];
  auto* ep =
      eps ? static_cast<libusb_endpoint_descriptor*>(std::calloc(eps, sizeof(libusb_endpoint_descriptor))) : nullptr;
  if (!c || !itf || !alt || (eps && !ep)) {
    std::free(c);
    std::free(itf);
    std::free(alt);
    std::free(ep);
    return nullptr;
  }
  c->bLength = raw[0];
  c->bDescriptorType = raw[1];
  c->wTotalLength = static_cast<uint16_t>(raw[2] | raw[3] << 8);
  c->bNumInterfaces = raw[4];
  c->bConfigurationValue = raw[5];
  c->iConfiguration = raw[6];
  c->bmAttributes = raw[7];
  c->MaxPower = raw[8];
  c->interface = itf;
  itf->altsetting = alt;
  itf->num_altsetting = 1;
  alt->bLength = raw[9];
  alt->bDescriptorType = raw[10];
  alt->bInterfaceNumber = raw[11];
  alt->bAlternateSetting = raw[12];
  alt->bNumEndpoints = eps;
  alt->bInterfaceClass = raw[14];
  alt->bInterfaceSubClass = raw[15];
  alt->bInterfaceProtocol = raw[16];
  alt->iInterface = raw[17];
  alt->endpoint = ep;
  for (uint8_t i = 0; i < eps; ++i) {
    const uint8_t* e = raw.data() + 18 + 7 * i;
    ep[i].bLength = e[0];
    ep[i].bDescriptorType = e[1];
    ep[i].bEndpointAddress = e[2];
    ep[i].bmAttributes = e[3];
    ep[i].wMaxPacketSize = static_cast<uint16_t>(e[4] | e[5] << 8);
    ep[i].bInterval = e[6];
  }
  return c;
}

}  // namespace

// ---- library and contexts

int LIBUSB_CALL libusb_init(libusb_context** ctx) {
  Tguard w;
  if (ctx) {
    *ctx = new libusb_context;
    w->Fcontexts.insert(*ctx);
  } else {
    ++w->FdefaultRefs;
  }
  return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context* ctx) {
  Tguard w;
  if (ctx) {
    if (w->Fcontexts.erase(ctx))
      delete ctx;
    else
      ++w->Fmisuse;
  } else if (w->FdefaultRefs > 0) {
    --w->FdefaultRefs;
  } else {
    ++w->Fmisuse;
  }
}

void LIBUSB_CALL libusb_set_debug(libusb_context*, int) {}
void LIBUSB_CALL libusb_set_log_cb(libusb_context*, libusb_log_cb, int) {}
int LIBUSB_CALL libusb_set_option(libusb_context*, enum libusb_option option, ...) {
  return option == LIBUSB_OPTION_USE_USBDK ? LIBUSB_ERROR_NOT_SUPPORTED : LIBUSB_SUCCESS;
}

const struct libusb_version* LIBUSB_CALL libusb_get_version(void) {
  static const libusb_version v = {1, 0, 26, 0, "", "kelvosim"};
  return &v;
}

int LIBUSB_CALL libusb_has_capability(uint32_t capability) {
  return capability == LIBUSB_CAP_HAS_CAPABILITY || capability == LIBUSB_CAP_SUPPORTS_DETACH_KERNEL_DRIVER;
}

const char* LIBUSB_CALL libusb_error_name(int errcode) { return errorName(errcode); }
int LIBUSB_CALL libusb_setlocale(const char*) { return LIBUSB_SUCCESS; }
const char* LIBUSB_CALL libusb_strerror(int errcode) { return errorText(errcode); }

// ---- device list and device properties

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
  Tguard w;
  if (!list) return LIBUSB_ERROR_INVALID_PARAM;
  if (ctx ? !w->Fcontexts.count(ctx) : w->FdefaultRefs == 0) ++w->Fmisuse;  // no libusb_init
  if (w->FlistResult < 0) return w->FlistResult;
  std::vector<libusb_device*> present;
  for (auto& d : w->Fdevices)
    if (d->Fstate.Fpresent) present.push_back(w->usbDevice(*d));
  auto** l = new libusb_device*[present.size() + 1];
  for (size_t i = 0; i < present.size(); ++i) {
    l[i] = present[i];
    ++l[i]->Frefs;
  }
  l[present.size()] = nullptr;
  w->Flists.insert(l);
  *list = l;
  return static_cast<ssize_t>(present.size());
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unref_devices) {
  if (!list) return;
  Tguard w;
  if (!w->Flists.erase(list)) {
    ++w->Fmisuse;
    return;
  }
  if (unref_devices)
    for (libusb_device** p = list; *p; ++p) --(*p)->Frefs;
  delete[] list;
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* dev) {
  Tguard w;
  if (dev) ++dev->Frefs;
  return dev;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* dev) {
  Tguard w;
  if (dev) --dev->Frefs;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  if (!d || !desc) return LIBUSB_ERROR_INVALID_PARAM;
  const std::vector<uint8_t> r = w->deviceDescriptor(*d);
  desc->bLength = r[0];
  desc->bDescriptorType = r[1];
  desc->bcdUSB = static_cast<uint16_t>(r[2] | r[3] << 8);
  desc->bDeviceClass = r[4];
  desc->bDeviceSubClass = r[5];
  desc->bDeviceProtocol = r[6];
  desc->bMaxPacketSize0 = r[7];
  desc->idVendor = static_cast<uint16_t>(r[8] | r[9] << 8);
  desc->idProduct = static_cast<uint16_t>(r[10] | r[11] << 8);
  desc->bcdDevice = static_cast<uint16_t>(r[12] | r[13] << 8);
  desc->iManufacturer = r[14];
  desc->iProduct = r[15];
  desc->iSerialNumber = r[16];
  desc->bNumConfigurations = r[17];
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* dev, uint8_t config_index,
                                             struct libusb_config_descriptor** config) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  if (!d || !config) return LIBUSB_ERROR_INVALID_PARAM;
  if (config_index != 0) return LIBUSB_ERROR_NOT_FOUND;
  *config = buildConfig(w->configDescriptor(*d));
  return *config ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_MEM;
}

int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device* dev, struct libusb_config_descriptor** config) {
  {
    Tguard w;
    TsimDevice* d = devOf(dev);
    if (!d || !config) return LIBUSB_ERROR_INVALID_PARAM;
    if (d->Fstate.FactiveConfig == 0) return LIBUSB_ERROR_NOT_FOUND;
  }
  return libusb_get_config_descriptor(dev, 0, config);
}

int LIBUSB_CALL libusb_get_config_descriptor_by_value(libusb_device* dev, uint8_t bConfigurationValue,
                                                      struct libusb_config_descriptor** config) {
  if (bConfigurationValue != 1) return LIBUSB_ERROR_NOT_FOUND;
  return libusb_get_config_descriptor(dev, 0, config);
}

void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor* config) {
  if (!config) return;
  if (config->interface) {
    if (config->interface->altsetting) {
      std::free(const_cast<libusb_endpoint_descriptor*>(config->interface->altsetting->endpoint));
      std::free(const_cast<libusb_interface_descriptor*>(config->interface->altsetting));
    }
    std::free(const_cast<libusb_interface*>(config->interface));
  }
  std::free(config);
}

int LIBUSB_CALL libusb_get_ss_endpoint_companion_descriptor(libusb_context*, const struct libusb_endpoint_descriptor*,
                                                            struct libusb_ss_endpoint_companion_descriptor**) {
  return LIBUSB_ERROR_NOT_FOUND;
}
void LIBUSB_CALL libusb_free_ss_endpoint_companion_descriptor(struct libusb_ss_endpoint_companion_descriptor*) {}
int LIBUSB_CALL libusb_get_bos_descriptor(libusb_device_handle*, struct libusb_bos_descriptor**) {
  return LIBUSB_ERROR_PIPE;  // a USB 2.0 full-speed device has none
}
void LIBUSB_CALL libusb_free_bos_descriptor(struct libusb_bos_descriptor*) {}
int LIBUSB_CALL libusb_get_usb_2_0_extension_descriptor(libusb_context*, struct libusb_bos_dev_capability_descriptor*,
                                                        struct libusb_usb_2_0_extension_descriptor**) {
  return LIBUSB_ERROR_NOT_FOUND;
}
void LIBUSB_CALL libusb_free_usb_2_0_extension_descriptor(struct libusb_usb_2_0_extension_descriptor*) {}
int LIBUSB_CALL libusb_get_ss_usb_device_capability_descriptor(libusb_context*,
                                                               struct libusb_bos_dev_capability_descriptor*,
                                                               struct libusb_ss_usb_device_capability_descriptor**) {
  return LIBUSB_ERROR_NOT_FOUND;
}
void LIBUSB_CALL libusb_free_ss_usb_device_capability_descriptor(struct libusb_ss_usb_device_capability_descriptor*) {}
int LIBUSB_CALL libusb_get_container_id_descriptor(libusb_context*, struct libusb_bos_dev_capability_descriptor*,
                                                   struct libusb_container_id_descriptor**) {
  return LIBUSB_ERROR_NOT_FOUND;
}
void LIBUSB_CALL libusb_free_container_id_descriptor(struct libusb_container_id_descriptor*) {}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* dev) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  return d ? d->Fcfg.Fbus : 0;
}

uint8_t LIBUSB_CALL libusb_get_port_number(libusb_device* dev) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  return d && !d->Fcfg.Fports.empty() ? d->Fcfg.Fports.back() : 0;
}

int LIBUSB_CALL libusb_get_port_numbers(libusb_device* dev, uint8_t* port_numbers, int port_numbers_len) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  if (!d || port_numbers_len <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  const std::vector<uint8_t>& p = d->Fcfg.Fports;
  if (static_cast<int>(p.size()) > port_numbers_len) return LIBUSB_ERROR_OVERFLOW;
  if (!p.empty()) std::memcpy(port_numbers, p.data(), p.size());
  return static_cast<int>(p.size());
}

int LIBUSB_CALL libusb_get_port_path(libusb_context*, libusb_device* dev, uint8_t* path, uint8_t path_length) {
  return libusb_get_port_numbers(dev, path, path_length);
}

libusb_device* LIBUSB_CALL libusb_get_parent(libusb_device*) { return nullptr; }

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* dev) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  return d ? d->Faddress : 0;
}

int LIBUSB_CALL libusb_get_device_speed(libusb_device* dev) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  return d ? d->Fcfg.Fspeed : LIBUSB_SPEED_UNKNOWN;
}

int LIBUSB_CALL libusb_get_max_packet_size(libusb_device* dev, unsigned char endpoint) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  if (!d) return LIBUSB_ERROR_INVALID_PARAM;
  if (!d->Fboard) return LIBUSB_ERROR_NOT_FOUND;
  const auto& b = d->Fboard->Fbridge;
  return b.isInEndpoint(endpoint) || b.isOutEndpoint(endpoint) ? 64 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_get_max_iso_packet_size(libusb_device* dev, unsigned char endpoint) {
  return libusb_get_max_packet_size(dev, endpoint);
}

// ---- handles

int LIBUSB_CALL libusb_wrap_sys_device(libusb_context*, intptr_t, libusb_device_handle**) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** dev_handle) {
  Tguard w;
  TsimDevice* d = devOf(dev);
  if (!d || !dev_handle) return LIBUSB_ERROR_INVALID_PARAM;
  if (!d->Fstate.Fpresent || dev->Fgeneration != d->Fgeneration) return LIBUSB_ERROR_NO_DEVICE;
  if (d->Fcfg.FaccessDenied) return LIBUSB_ERROR_ACCESS;
  if (d->Fcfg.FopenResult < 0) return d->Fcfg.FopenResult;
  auto* h = new libusb_device_handle;
  h->Fdev = dev;
  ++dev->Frefs;
  w->Fhandles.insert(h);
  ++d->Fstate.Fopens;
  ++d->Fstate.FopenHandles;
  *dev_handle = h;
  return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* dev_handle) {
  if (!dev_handle) return;
  Tguard w;
  if (!w->Fhandles.erase(dev_handle)) {
    ++w->Fmisuse;
    return;
  }
  TsimDevice* d = dev_handle->Fdev->Fdev.get();
  if (dev_handle->Fclaimed) {
    d->Fstate.FclosedWhileClaimed = true;
    if (d->Fclaimer == dev_handle) {
      d->Fclaimer = nullptr;
      d->Fstate.Fclaimed = false;
    }
  }
  ++d->Fstate.Fcloses;
  --d->Fstate.FopenHandles;
  --dev_handle->Fdev->Frefs;
  delete dev_handle;
}

libusb_device* LIBUSB_CALL libusb_get_device(libusb_device_handle* dev_handle) {
  Tguard w;
  return dev_handle && w->Fhandles.count(dev_handle) ? dev_handle->Fdev : nullptr;
}

int LIBUSB_CALL libusb_get_configuration(libusb_device_handle* dev_handle, int* config) {
  Tguard w;
  int rc = 0;
  TsimDevice* d = w->deviceOf(dev_handle, rc);
  if (!d) return rc;
  if (!config) return LIBUSB_ERROR_INVALID_PARAM;
  if (d->Fcfg.FgetConfigResult < 0) return d->Fcfg.FgetConfigResult;
  *config = d->Fstate.FactiveConfig;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle* dev_handle, int configuration) {
  Tguard w;
  int rc = 0;
  TsimDevice* d = w->deviceOf(dev_handle, rc);
  if (!d) return rc;
  if (d->Fcfg.FsetConfigResult < 0) return d->Fcfg.FsetConfigResult;
  if (configuration != -1 && configuration != 0 && configuration != 1) return LIBUSB_ERROR_NOT_FOUND;
  // Claimed interfaces, ours or a driver's, block a change of configuration.
  if (d->Fclaimer || d->Fstate.FkernelDriver || d->Fcfg.FheldElsewhere) return LIBUSB_ERROR_BUSY;
  d->Fstate.FactiveConfig = configuration == 1 ? 1 : 0;
  ++d->Fstate.FsetConfigs;
  // The kernel probes the new interface; a driver that was never detached binds again.
  if (d->Fstate.FactiveConfig && d->Fcfg.FkernelDriver && d->Fstate.Fdetaches == 0) d->Fstate.FkernelDriver = true;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* dev_handle, int interface_number) {
  Tguard w;
  int rc = 0;
  TsimDevice* d = w->deviceOf(dev_handle, rc);
  if (!d) return rc;
  if (interface_number != 0 || d->Fstate.FactiveConfig == 0) return LIBUSB_ERROR_NOT_FOUND;
  if (dev_handle->Fclaimed) return LIBUSB_SUCCESS;
  if (d->Fstate.FkernelDriver && dev_handle->FautoDetach && !d->Fcfg.FheldElsewhere && !d->Fclaimer) {
    d->Fstate.FkernelDriver = false;
    ++d->Fstate.Fdetaches;
    dev_handle->FdetachedByClaim = true;
  }
  if (d->Fstate.FkernelDriver || d->Fcfg.FheldElsewhere || d->Fclaimer) return LIBUSB_ERROR_BUSY;
  dev_handle->Fclaimed = true;
  d->Fclaimer = dev_handle;
  d->Fstate.Fclaimed = true;
  ++d->Fstate.Fclaims;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* dev_handle, int interface_number) {
  Tguard w;
  int rc = 0;
  TsimDevice* d = w->deviceOf(dev_handle, rc);
  if (rc == LIBUSB_ERROR_INVALID_PARAM) return rc;
  if (interface_number != 0 || !dev_handle->Fclaimed) return d ? LIBUSB_ERROR_NOT_FOUND : rc;
  dev_handle->Fclaimed = false;
  TsimDevice* owner = dev_handle->Fdev->Fdev.get();
  if (owner->Fclaimer == dev_handle) {
    owner->Fclaimer = nullptr;
    owner->Fstate.Fclaimed = false;
  }
  if (!d) return rc;  // gone: the claim is dropped all the same
  ++d->Fstate.Freleases;
  if (dev_handle->FdetachedByClaim) {  // auto-detach gives the driver back
    dev_handle->FdetachedByClaim = false;
    d->Fstate.FkernelDriver = true;
  }
  return LIBUSB_SUCCESS;
}

libusb_device_handle* LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context*, uint16_t vendor_id,
                                                                  uint16_t product_id) {
  Tguard w;
  for (auto& d : w->Fdevices) {
    if (!d->Fstate.Fpresent || d->Fcfg.Fvendor != vendor_id || d->Fcfg.Fproduct != product_id) continue;
    libusb_device_handle* h = nullptr;
    return libusb_open(w->usbDevice(*d), &h) == LIBUSB_SUCCESS ? h : nullptr;
  }
  return nullptr;
}

int LIBUSB_CALL libusb_set_interface_alt_setting(libusb_device_handle* dev_handle, int interface_number,
                                                 int alternate_setting) {
  Tguard w;
  int rc = 0;
  if (!w->deviceOf(dev_handle, rc)) return rc;
  if (interface_number != 0 || alternate_setting != 0 || !dev_handle->Fclaimed) return LIBUSB_ERROR_NOT_FOUND;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle* dev_handle, unsigned char endpoint) {
  Tguard w;
  int rc = 0;
  TsimDevice* d = w->deviceOf(dev_handle, rc);
  if (!d) return rc;
  if (!d->Fboard || !(d->Fboard->Fbridge.isInEndpoint(endpoint) || d->Fboard->Fbridge.isOutEndpoint(endpoint)))
    return LIBUSB_ERROR_NOT_FOUND;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_reset_device(libusb_device_handle* dev_handle) {
  Tguard w;
  int rc = 0;
  return w->deviceOf(dev_handle, rc) ? LIBUSB_SUCCESS : rc;
}

int LIBUSB_CALL libusb_alloc_streams(libusb_device_handle*, uint32_t, unsigned char*, int) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
int LIBUSB_CALL libusb_free_streams(libusb_device_handle*, unsigned char*, int) { return LIBUSB_ERROR_NOT_SUPPORTED; }
unsigned char* LIBUSB_CALL libusb_dev_mem_alloc(libusb_device_handle*, size_t) { return nullptr; }
int LIBUSB_CALL libusb_dev_mem_free(libusb_device_handle*, unsigned char*, size_t) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle* dev_handle, int interface_number) {
  Tguard w;
  int rc = 0;
  TsimDevice* d = w->deviceOf(dev_handle, rc);
  if (!d) return rc;
  if (d->Fcfg.FdriverActiveResult < 0) return d->Fcfg.FdriverActiveResult;
  if (interface_number != 0 || d->Fstate.FactiveConfig == 0) return LIBUSB_ERROR_NOT_FOUND;
  return d->Fstate.FkernelDriver ? 1 : 0;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle* dev_handle, int interface_number) {
  Tguard w;
  int rc = 0;
  TsimDevice* d = w->deviceOf(dev_handle, rc);
  if (!d) return rc;
  if (d->Fcfg.FdetachResult < 0) return d->Fcfg.FdetachResult;
  if (interface_number != 0 || d->Fstate.FactiveConfig == 0 || !d->Fstate.FkernelDriver) return LIBUSB_ERROR_NOT_FOUND;
  d->Fstate.FkernelDriver = false;
  ++d->Fstate.Fdetaches;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_attach_kernel_driver(libusb_device_handle* dev_handle, int interface_number) {
  Tguard w;
  int rc = 0;
  TsimDevice* d = w->deviceOf(dev_handle, rc);
  if (!d) return rc;
  if (interface_number != 0 || d->Fstate.FactiveConfig == 0 || !d->Fcfg.FkernelDriver) return LIBUSB_ERROR_NOT_FOUND;
  if (d->Fstate.FkernelDriver || d->Fclaimer) return LIBUSB_ERROR_BUSY;
  d->Fstate.FkernelDriver = true;
  return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle* dev_handle, int enable) {
  Tguard w;
  int rc = 0;
  if (!w->deviceOf(dev_handle, rc)) return rc;
  dev_handle->FautoDetach = enable != 0;
  return LIBUSB_SUCCESS;
}

// ---- transfers

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* dev_handle, uint8_t request_type, uint8_t bRequest,
                                        uint16_t wValue, uint16_t wIndex, unsigned char* data, uint16_t wLength,
                                        unsigned int timeout) {
  Tguard w;
  return w->controlTransfer(dev_handle, request_type, bRequest, wValue, wIndex, data, wLength, timeout);
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* dev_handle, unsigned char endpoint, unsigned char* data,
                                     int length, int* actual_length, unsigned int timeout) {
  Tguard w;
  return w->bulkTransfer(dev_handle, endpoint, data, length, actual_length, timeout);
}

int LIBUSB_CALL libusb_interrupt_transfer(libusb_device_handle* dev_handle, unsigned char endpoint, unsigned char* data,
                                          int length, int* actual_length, unsigned int timeout) {
  Tguard w;  // the bridge has no interrupt endpoints: the bulk path refuses them
  return w->bulkTransfer(dev_handle, endpoint, data, length, actual_length, timeout);
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* dev_handle, uint8_t desc_index,
                                                   unsigned char* data, int length) {
  Tguard w;
  if (desc_index == 0 || !data || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  unsigned char tbuf[255];
  // As the real library does: the first language, then the string in it.
  int r = w->controlTransfer(dev_handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR, LIBUSB_DT_STRING << 8, 0,
                             tbuf, sizeof tbuf, 1000);
  if (r < 0) return r;
  if (r < 4) return LIBUSB_ERROR_IO;
  const uint16_t langid = static_cast<uint16_t>(tbuf[2] | tbuf[3] << 8);
  r = w->controlTransfer(dev_handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                         static_cast<uint16_t>(LIBUSB_DT_STRING << 8 | desc_index), langid, tbuf, sizeof tbuf, 1000);
  if (r < 0) return r;
  if (r < 2 || tbuf[1] != LIBUSB_DT_STRING || tbuf[0] > r) return LIBUSB_ERROR_IO;
  int di = 0;
  for (int si = 2; si + 1 < tbuf[0]; si += 2) {
    if (di >= length - 1) break;
    data[di++] = (tbuf[si] & 0x80) || tbuf[si + 1] ? '?' : tbuf[si];
  }
  data[di] = 0;
  return di;
}

// ---- asynchronous interface: transfers are not simulated, the event calls idle

struct libusb_transfer* LIBUSB_CALL libusb_alloc_transfer(int iso_packets) {
  if (iso_packets < 0) return nullptr;
  const size_t size = sizeof(libusb_transfer) + sizeof(libusb_iso_packet_descriptor) * size_t(iso_packets);
  return static_cast<libusb_transfer*>(std::calloc(1, size));
}

int LIBUSB_CALL libusb_submit_transfer(struct libusb_transfer*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int LIBUSB_CALL libusb_cancel_transfer(struct libusb_transfer*) { return LIBUSB_ERROR_NOT_FOUND; }

void LIBUSB_CALL libusb_free_transfer(struct libusb_transfer* transfer) {
  if (!transfer) return;
  if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) std::free(transfer->buffer);
  std::free(transfer);
}

void LIBUSB_CALL libusb_transfer_set_stream_id(struct libusb_transfer*, uint32_t) {}
uint32_t LIBUSB_CALL libusb_transfer_get_stream_id(struct libusb_transfer*) { return 0; }

int LIBUSB_CALL libusb_try_lock_events(libusb_context*) { return 0; }
void LIBUSB_CALL libusb_lock_events(libusb_context*) {}
void LIBUSB_CALL libusb_unlock_events(libusb_context*) {}
int LIBUSB_CALL libusb_event_handling_ok(libusb_context*) { return 1; }
int LIBUSB_CALL libusb_event_handler_active(libusb_context*) { return 0; }
void LIBUSB_CALL libusb_interrupt_event_handler(libusb_context*) {}
void LIBUSB_CALL libusb_lock_event_waiters(libusb_context*) {}
void LIBUSB_CALL libusb_unlock_event_waiters(libusb_context*) {}
int LIBUSB_CALL libusb_wait_for_event(libusb_context*, struct timeval*) { return 1; }
int LIBUSB_CALL libusb_handle_events_timeout(libusb_context*, struct timeval*) { return 0; }
int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context*, struct timeval*, int*) { return 0; }
int LIBUSB_CALL libusb_handle_events(libusb_context*) { return 0; }
int LIBUSB_CALL libusb_handle_events_completed(libusb_context*, int*) { return 0; }
int LIBUSB_CALL libusb_handle_events_locked(libusb_context*, struct timeval*) { return 0; }
int LIBUSB_CALL libusb_pollfds_handle_timeouts(libusb_context*) { return 1; }
int LIBUSB_CALL libusb_get_next_timeout(libusb_context*, struct timeval*) { return 0; }

const struct libusb_pollfd** LIBUSB_CALL libusb_get_pollfds(libusb_context*) {
  return static_cast<const libusb_pollfd**>(std::calloc(1, sizeof(libusb_pollfd*)));
}
void LIBUSB_CALL libusb_free_pollfds(const struct libusb_pollfd** pollfds) {
  std::free(const_cast<libusb_pollfd**>(pollfds));
}
void LIBUSB_CALL libusb_set_pollfd_notifiers(libusb_context*, libusb_pollfd_added_cb, libusb_pollfd_removed_cb, void*) {
}

int LIBUSB_CALL libusb_hotplug_register_callback(libusb_context*, int, int, int, int, int, libusb_hotplug_callback_fn,
                                                 void*, libusb_hotplug_callback_handle*) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
void LIBUSB_CALL libusb_hotplug_deregister_callback(libusb_context*, libusb_hotplug_callback_handle) {}
void* LIBUSB_CALL libusb_hotplug_get_user_data(libusb_context*, libusb_hotplug_callback_handle) { return nullptr; }
