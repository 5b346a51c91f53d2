// The kernel's own driver for the remote (hid-wiimote), where it binds the
// remote, turns the remote's buttons into key events of an input device of its
// own ("Nintendo Wii Remote": D-pad as arrow keys and so on), which the desktop
// takes for a keyboard. While the tool runs it holds an exclusive grab on that
// device's event node, so that no other program sees those keys. The grab ends
// when the node is closed: at the close of the remote, and, since the kernel
// closes every file of a process that ends, on a crash or a kill too.
//
// The driver's other input devices for the remote (accelerometer, infrared
// camera, extensions) all have absolute axes, and opening one makes the driver
// select a report mode of its own and set up the camera; the tool never opens
// them. The button device is the one with keys and no axes.
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linux_backend.h"

namespace linuxbackend {

namespace {

struct Grabs {
  int fds[kMaxGrabNodes];
  int count;
};
constexpr int kMaxHandles = 4;
Grabs grabs[kMaxHandles] = {};

// Reads the first line of a small sysfs file; false when there is none.
bool ReadLine(const char* path, char* out, size_t size) {
  FILE* f = std::fopen(path, "re");
  if (f == nullptr) return false;
  const bool ok = std::fgets(out, static_cast<int>(size), f) != nullptr;
  std::fclose(f);
  return ok;
}

// Whether the input device at dir has keys and no absolute axes, from its
// capabilities/ev bitmask (one hex word: bit 1 EV_KEY, bit 3 EV_ABS).
bool IsButtonDevice(const char* dir) {
  char path[1100], line[64];
  std::snprintf(path, sizeof path, "%s/capabilities/ev", dir);
  if (!ReadLine(path, line, sizeof line)) return false;
  const unsigned long ev = std::strtoul(line, nullptr, 16);
  return (ev & (1UL << EV_KEY)) != 0 && (ev & (1UL << EV_ABS)) == 0;
}

// The name of the event node ("event3") of the input device at dir.
bool EventNodeOf(const char* dir, char* name, size_t size) {
  DIR* d = opendir(dir);
  if (d == nullptr) return false;
  bool found = false;
  while (dirent* e = readdir(d)) {
    if (std::strncmp(e->d_name, "event", 5) != 0) continue;
    if (std::strlen(e->d_name) >= size) continue;
    std::memcpy(name, e->d_name, std::strlen(e->d_name) + 1);
    found = true;
    break;
  }
  closedir(d);
  return found;
}

// Keys held when the grab starts have reached the desktop as presses whose
// releases would then go to the tool alone, so the desktop would repeat them
// for the whole run. Before the grab, a release of each is sent through the
// node (the kernel hands an event written to an event node to every reader of
// the device), the way the device would send it. Needs the node open for
// writing; without that the keys stay as they are.
void ReleaseHeldKeys(int fd) {
  unsigned long held[KEY_MAX / (8 * sizeof(unsigned long)) + 1] = {};
  if (ioctl(fd, EVIOCGKEY(sizeof held), held) < 0) return;
  constexpr int kBitsPerWord = 8 * sizeof(unsigned long);
  bool any = false;
  for (int code = 0; code <= KEY_MAX; ++code) {
    if ((held[code / kBitsPerWord] & (1UL << (code % kBitsPerWord))) == 0) continue;
    input_event release = {};
    release.type = EV_KEY;
    release.code = static_cast<uint16_t>(code);
    release.value = 0;
    if (write(fd, &release, sizeof release) != static_cast<ssize_t>(sizeof release)) return;
    any = true;
  }
  if (!any) return;
  input_event sync = {};
  sync.type = EV_SYN;
  sync.code = SYN_REPORT;
  if (write(fd, &sync, sizeof sync) != static_cast<ssize_t>(sizeof sync)) return;
}

}  // namespace

int FindButtonNodes(const char* sysRoot, const char* hidrawName,
                    char (*names)[kNodeNameSize], int max) {
  char inputs[512];
  std::snprintf(inputs, sizeof inputs, "%s/class/hidraw/%s/device/input", sysRoot, hidrawName);
  DIR* d = opendir(inputs);
  if (d == nullptr) return 0;  // no input device: no driver of its own
  int count = 0;
  while (dirent* e = readdir(d)) {
    if (count == max) break;
    if (std::strncmp(e->d_name, "input", 5) != 0) continue;
    char dir[1024];
    std::snprintf(dir, sizeof dir, "%s/%s", inputs, e->d_name);
    if (IsButtonDevice(dir) && EventNodeOf(dir, names[count], kNodeNameSize)) ++count;
  }
  closedir(d);
  return count;
}

int GrabButtonNodesUnder(const char* sysRoot, const char* devInput, int handle,
                         const char* hidrawPath) {
  if (handle < 0 || handle >= kMaxHandles || hidrawPath == nullptr) return 0;
  const char* slash = std::strrchr(hidrawPath, '/');
  const char* hidrawName = slash ? slash + 1 : hidrawPath;
  char names[kMaxGrabNodes][kNodeNameSize];
  const int found = FindButtonNodes(sysRoot, hidrawName, names, kMaxGrabNodes);
  Grabs& g = grabs[handle];
  for (int i = 0; i < found && g.count < kMaxGrabNodes; ++i) {
    char node[1100];
    std::snprintf(node, sizeof node, "%s/%s", devInput, names[i]);
    int fd = open(node, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fd = open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ReleaseHeldKeys(fd);
    if (fd < 0 || ioctl(fd, EVIOCGRAB, 1) != 0) {
      std::fprintf(stderr,
                   "trevanquill: cannot grab %s (%s): the remote's buttons reach other "
                   "programs as keys too\n",
                   node, std::strerror(errno));
      if (fd >= 0) close(fd);
      continue;
    }
    g.fds[g.count++] = fd;
  }
  return g.count;
}

void GrabButtonNodes(int handle, const char* hidrawPath) {
  GrabButtonNodesUnder("/sys", "/dev/input", handle, hidrawPath);
}

void ReleaseButtonNodes(int handle) {
  if (handle < 0 || handle >= kMaxHandles) return;
  Grabs& g = grabs[handle];
  for (int i = 0; i < g.count; ++i) {
    ioctl(g.fds[i], EVIOCGRAB, 0);
    close(g.fds[i]);
  }
  g.count = 0;
}

}  // namespace linuxbackend
