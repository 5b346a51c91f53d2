// The cursor and synthetic mouse input in a Wayland session: a virtual
// pointer made through the kernel's uinput. Every compositor reads its input
// devices through libinput, and a uinput device is one of them, so the cursor
// moves in native windows and XWayland's alike.
//
// Two devices, made once at start and gone when the tool closes them (or
// ends in any way: the kernel removes a uinput device with its descriptor):
// - "trevanquill pointer": ABS_X and ABS_Y with a resolution, BTN_LEFT,
//   BTN_RIGHT and BTN_MIDDLE, no INPUT_PROP_DIRECT and no touch or tool
//   buttons. udev classes it as a mouse (ID_INPUT_MOUSE), libinput as an
//   absolute pointer, and the compositor stretches its range over the whole
//   desktop (the bounding box of all monitors).
// - "trevanquill wheel": REL_WHEEL and REL_WHEEL_HI_RES, with REL_X, REL_Y
//   and BTN_LEFT only so that udev classes it as a mouse (libinput takes no
//   device udev has not classed); the tool never sends those.
//
// The cursor cannot be read back: no Wayland client may see the global
// pointer. GetCursorPos answers the position the tool placed last.
#include <dirent.h>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "linux_backend.h"
#include "platform/platform.h"

namespace {

// The devices' own numbers, on the virtual bus: nothing else claims them, and
// libinput's quirks for real hardware do not apply.
constexpr uint16_t kVendor = 0x7476;
constexpr uint16_t kPointerProduct = 0x0001;
constexpr uint16_t kWheelProduct = 0x0002;
constexpr uint16_t kVersion = 1;

// How long the start waits for udev to announce a new device, and how long
// after that it leaves the compositor to open it. udev's announcement is
// what libinput acts on (the compositor then opens the node, through logind
// or seatd, within a few milliseconds); the first event goes out half a
// second later anyway, after the remote's set-up.
constexpr int kReadyLimitMs = 3000;
constexpr int kSettleMs = 100;

// AbsValue for a size above zero.
int AxisValue(int pixel, int size) {
  const long long range = static_cast<long long>(linuxbackend::kAbsMax) + 1;
  const long long value = (static_cast<long long>(pixel) * range + size - 1) / size;
  return static_cast<int>(value < linuxbackend::kAbsMax ? value : linuxbackend::kAbsMax - 1);
}

// The range stands for box from now on. Worked out here, once per layout,
// what every placement needs: the last pixel of each axis.
void FitPointer(linuxbackend::UinputPointer* p, linuxbackend::DesktopBox box) {
  p->box = box;
  p->lastX = box.x + box.width - 1;
  p->lastY = box.y + box.height - 1;
}

int Clamp(int value, int low, int high) {
  return value < low ? low : value > high ? high : value;
}

// Fills in one event of a frame (the time fields are left as they are: zero).
void Event(input_event* e, uint16_t type, uint16_t code, int32_t value) {
  e->type = type;
  e->code = code;
  e->value = value;
}

// One frame: count events and, after them, the event left zero, which is the
// SYN_REPORT that closes the frame, in one write (the kernel takes them as
// they come and hands the frame on at the report).
void WriteFrame(int fd, const input_event* events, int count) {
  const size_t size = sizeof(input_event) * static_cast<size_t>(count + 1);
  // A full pipe or a vanished device loses the frame; nothing to retry.
  ssize_t written = write(fd, events, size);
  (void)written;
}

void SleepMs(int ms) {
  timespec t = {ms / 1000, static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

bool Ioctl(int fd, unsigned long request, unsigned long arg) {
  return ioctl(fd, request, arg) == 0;
}

bool SetUp(int fd, const char* name, uint16_t product) {
  uinput_setup setup;
  std::memset(&setup, 0, sizeof setup);
  setup.id.bustype = BUS_VIRTUAL;
  setup.id.vendor = kVendor;
  setup.id.product = product;
  setup.id.version = kVersion;
  std::snprintf(setup.name, sizeof setup.name, "%s", name);
  return ioctl(fd, UI_DEV_SETUP, &setup) == 0 && Ioctl(fd, UI_DEV_CREATE, 0);
}

bool MakePointerDevice(int fd) {
  bool ok = Ioctl(fd, UI_SET_EVBIT, EV_KEY) && Ioctl(fd, UI_SET_EVBIT, EV_ABS) &&
            Ioctl(fd, UI_SET_KEYBIT, BTN_LEFT) && Ioctl(fd, UI_SET_KEYBIT, BTN_RIGHT) &&
            Ioctl(fd, UI_SET_KEYBIT, BTN_MIDDLE);
  const uint16_t axes[] = {ABS_X, ABS_Y};
  for (uint16_t axis : axes) {
    uinput_abs_setup abs;
    std::memset(&abs, 0, sizeof abs);
    abs.code = axis;
    abs.absinfo.minimum = 0;
    abs.absinfo.maximum = linuxbackend::kAbsMax;
    abs.absinfo.resolution = linuxbackend::kAbsResolution;
    // No placement uses kAbsMax (see AbsValue): the first one is never
    // dropped as equal to the start value.
    abs.absinfo.value = linuxbackend::kAbsMax;
    ok = ok && Ioctl(fd, UI_SET_ABSBIT, axis) && ioctl(fd, UI_ABS_SETUP, &abs) == 0;
  }
  return ok && SetUp(fd, "trevanquill pointer", kPointerProduct);
}

bool MakeWheelDevice(int fd) {
  return Ioctl(fd, UI_SET_EVBIT, EV_KEY) && Ioctl(fd, UI_SET_EVBIT, EV_REL) &&
         Ioctl(fd, UI_SET_KEYBIT, BTN_LEFT) && Ioctl(fd, UI_SET_RELBIT, REL_X) &&
         Ioctl(fd, UI_SET_RELBIT, REL_Y) && Ioctl(fd, UI_SET_RELBIT, REL_WHEEL) &&
         Ioctl(fd, UI_SET_RELBIT, REL_WHEEL_HI_RES) &&
         SetUp(fd, "trevanquill wheel", kWheelProduct);
}

// The device's event node, "/dev/input/eventN", and its "major:minor", read
// from sysfs; false while the kernel has not made it yet.
bool FindEventNode(const char* sysname, char* node, size_t nodeSize, char* number,
                   size_t numberSize) {
  char path[160];
  std::snprintf(path, sizeof path, "/sys/devices/virtual/input/%s", sysname);
  DIR* dir = opendir(path);
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, "event", 5) != 0) continue;
    char devPath[320];
    std::snprintf(devPath, sizeof devPath, "%s/%.32s/dev", path, entry->d_name);
    FILE* f = std::fopen(devPath, "r");
    if (f == nullptr) break;
    found = std::fgets(number, static_cast<int>(numberSize), f) != nullptr;
    std::fclose(f);
    number[std::strcspn(number, "\n")] = '\0';
    std::snprintf(node, nodeSize, "/dev/input/%.32s", entry->d_name);
    break;
  }
  closedir(dir);
  return found;
}

bool Exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until the device's node is in /dev/input and, where udev runs, until
// udev has written its record (the moment it tells libinput). Gives up
// quietly after kReadyLimitMs: the device is there, only perhaps late.
void WaitUntilAnnounced(int fd) {
  char sysname[64] = {};
  if (ioctl(fd, UI_GET_SYSNAME(sizeof sysname - 1), sysname) < 0) return;
  const bool udevRuns = Exists("/run/udev/control");
  char node[64] = {}, number[32] = {}, record[96] = {};
  const int64_t end = NowMs() + kReadyLimitMs;
  while (NowMs() < end) {
    if (node[0] == '\0' && FindEventNode(sysname, node, sizeof node, number, sizeof number)) {
      std::snprintf(record, sizeof record, "/run/udev/data/c%s", number);
    }
    if (node[0] != '\0' && Exists(node) && (!udevRuns || Exists(record))) return;
    SleepMs(5);
  }
}

}  // namespace

namespace linuxbackend {

UinputPointer NewUinputPointer(int absFd, int relFd, DesktopBox box) {
  UinputPointer p;
  p.absFd = absFd;
  p.relFd = relFd;
  FitPointer(&p, box);
  p.sentX = kAbsMax;
  p.sentY = kAbsMax;
  p.cursorX = box.x + box.width / 2;
  p.cursorY = box.y + box.height / 2;
  p.wheelUnits = 0;
  std::memset(p.frame, 0, sizeof p.frame);
  return p;
}

int AbsValue(int pixel, int size) { return size > 0 ? AxisValue(pixel, size) : 0; }

int PlaceCursor(UinputPointer* p, int x, int y) {
  const int cx = Clamp(x, p->box.x, p->lastX);
  const int cy = Clamp(y, p->box.y, p->lastY);
  // Where the tool put it last (or, before any placement, where it is
  // taken to be): the D-pad stage sets the cursor on every pass, mostly where
  // it read it, and sending that again would drag a cursor that a physical
  // mouse has moved since back to the tool's spot a hundred times a second.
  if (cx == p->cursorX && cy == p->cursorY) return 0;
  p->cursorX = cx;
  p->cursorY = cy;
  const int vx = AxisValue(cx - p->box.x, p->box.width);
  const int vy = AxisValue(cy - p->box.y, p->box.height);
  int count = 0;
  if (vx != p->sentX) Event(&p->frame[count++], EV_ABS, ABS_X, vx);
  if (vy != p->sentY) Event(&p->frame[count++], EV_ABS, ABS_Y, vy);
  if (count == 0) return 0;
  p->sentX = vx;
  p->sentY = vy;
  Event(&p->frame[count], EV_SYN, SYN_REPORT, 0);
  WriteFrame(p->absFd, p->frame, count);
  return count + 1;
}

void SetPointerBox(UinputPointer* p, DesktopBox box) {
  if (box.width > 0 && box.height > 0) FitPointer(p, box);
}

void SendMouseEvent(UinputPointer* p, uint32_t flags, int32_t data) {
  input_event events[5] = {};
  int count = 0;
  if (flags & platform::kMouseLeftDown) Event(&events[count++], EV_KEY, BTN_LEFT, 1);
  if (flags & platform::kMouseLeftUp) Event(&events[count++], EV_KEY, BTN_LEFT, 0);
  if (flags & platform::kMouseRightDown) Event(&events[count++], EV_KEY, BTN_RIGHT, 1);
  if (flags & platform::kMouseRightUp) Event(&events[count++], EV_KEY, BTN_RIGHT, 0);
  if (count > 0) WriteFrame(p->absFd, events, count);
  if ((flags & platform::kMouseWheel) && data != 0) {
    // The high-resolution value on every event (libinput passes it on to
    // applications that scroll smoothly) and, in the same frame, the whole
    // notches as they complete, for those that count notches only.
    input_event wheel[3] = {};
    count = 0;
    Event(&wheel[count++], EV_REL, REL_WHEEL_HI_RES, data);
    const int notches = TakeWheelNotches(&p->wheelUnits, data);
    if (notches != 0) Event(&wheel[count++], EV_REL, REL_WHEEL, notches);
    WriteFrame(p->relFd, wheel, count);
  }
}

bool CreateUinputDevices(int absFd, int relFd) {
  if (!MakePointerDevice(absFd) || !MakeWheelDevice(relFd)) {
    std::fprintf(stderr, "trevanquill: the kernel refused the virtual pointer (%s)\n",
                 std::strerror(errno));
    return false;
  }
  WaitUntilAnnounced(absFd);
  WaitUntilAnnounced(relFd);
  SleepMs(kSettleMs);
  return true;
}

}  // namespace linuxbackend

// ---------------------------------------------------------------- the run's pointer

namespace {

bool pointerOpen = false;
bool compositorGone = false;
linuxbackend::UinputPointer pointer;

}  // namespace

namespace linuxbackend {

bool OpenUinputDesktop(int absFd) {
  if (pointerOpen) return true;
  const int relFd = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (relFd < 0) {
    std::fprintf(stderr, "trevanquill: cannot open /dev/uinput a second time (%s)\n",
                 std::strerror(errno));
    close(absFd);
    return false;
  }
  if (!ConnectCompositor()) {
    close(absFd);
    close(relFd);
    return false;
  }
  if (!CreateUinputDevices(absFd, relFd)) {
    DisconnectCompositor();
    close(absFd);
    close(relFd);
    return false;
  }
  StartUinputPointer(absFd, relFd, CompositorDesktop());
  return true;
}

void StartUinputPointer(int absFd, int relFd, DesktopBox box) {
  pointer = NewUinputPointer(absFd, relFd, box);
  compositorGone = false;
  pointerOpen = true;
}

bool UinputDesktopOpen() { return pointerOpen; }

void CloseUinputDesktop() {
  if (!pointerOpen) return;
  // Closing the descriptor would remove the device too; destroying it first
  // makes the kernel release any button still held before it goes.
  ioctl(pointer.absFd, UI_DEV_DESTROY);
  ioctl(pointer.relFd, UI_DEV_DESTROY);
  close(pointer.absFd);
  close(pointer.relFd);
  DisconnectCompositor();
  pointerOpen = false;
}

}  // namespace linuxbackend

// The platform's calls while the virtual pointer is open (desktop_choice.cpp
// hands them here only then).
namespace platform::uinput {

// Asked on every pass. The compositor's connection is read only when the
// wait watcher saw something come on it (a monitor change, its end), which
// also ends a read that waits without a time limit: the pass right after it
// sees the end.
bool DesktopLost() {
  if (compositorGone) return true;
  if (!linuxbackend::TakeDesktopNews()) return false;
  if (linuxbackend::UpdateCompositor(&compositorGone) && !compositorGone) {
    const linuxbackend::DesktopBox box = linuxbackend::CompositorDesktop();
    linuxbackend::SetPointerBox(&pointer, box);
  }
  if (compositorGone) {
    std::fprintf(stderr, "trevanquill: lost the connection to the Wayland compositor\n");
  }
  return compositorGone;
}

void SetCursorPos(int x, int y) {
  linuxbackend::PlaceCursor(&pointer, x, y);
}

void GetCursorPos(int* x, int* y) {
  *x = pointer.cursorX;
  *y = pointer.cursorY;
}

void MouseEvent(uint32_t flags, int32_t data) {
  linuxbackend::SendMouseEvent(&pointer, flags, data);
}

}  // namespace platform::uinput
