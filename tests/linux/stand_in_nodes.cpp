// hidapi's enumeration and open by path for the stand-ins of hidapi (the test
// remote fake_hidapi.cpp and the benchmarks' remotes): the stand-in's remote
// is found by the stand-in's own hid_open and shows as one node per file named
// in FAKE_HID_NODES (a colon-separated list: two files are two remotes, one
// file shared by two tools is one remote). Without it the remote is one node
// of the process's own (an anonymous file), so that tools and tests running
// side by side never share a remote by chance. The tool locks the node's file
// as it locks a hidraw node.
#include <hidapi/hidapi.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

hid_device* foundDevice = nullptr;

hid_device_info* NewNode(const char* path, size_t length, unsigned short vendor,
                         unsigned short product, hid_device_info* next) {
  hid_device_info* info = static_cast<hid_device_info*>(std::calloc(1, sizeof *info));
  info->path = strndup(path, length);
  info->vendor_id = vendor;
  info->product_id = product;
  info->serial_number = wcsdup(L"");
  info->manufacturer_string = wcsdup(L"");
  info->product_string = wcsdup(L"");
  info->interface_number = -1;
  info->next = next;
  return info;
}

}  // namespace

extern "C" {

hid_device_info* hid_enumerate(unsigned short vendor, unsigned short product) {
  hid_device* device = hid_open(vendor, product, nullptr);
  if (device == nullptr) return nullptr;
  foundDevice = device;
  const char* nodes = std::getenv("FAKE_HID_NODES");
  if (nodes == nullptr || *nodes == '\0') {
    static int ownNode = memfd_create("remote", MFD_CLOEXEC);
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", ownNode);
    return NewNode(path, std::strlen(path), vendor, product, nullptr);
  }
  // In the order listed.
  hid_device_info* first = nullptr;
  hid_device_info** tail = &first;
  for (const char* p = nodes; *p != '\0';) {
    const char* end = std::strchr(p, ':');
    const size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
    *tail = NewNode(p, length, vendor, product, nullptr);
    tail = &(*tail)->next;
    p += length;
    if (*p == ':') ++p;
  }
  return first;
}

void hid_free_enumeration(hid_device_info* list) {
  while (list != nullptr) {
    hid_device_info* next = list->next;
    std::free(list->path);
    std::free(list->serial_number);
    std::free(list->manufacturer_string);
    std::free(list->product_string);
    std::free(list);
    list = next;
  }
}

hid_device* hid_open_path(const char*) { return foundDevice; }

}  // extern "C"
