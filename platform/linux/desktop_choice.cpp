// Which desktop the tool talks to, chosen once at start from the session:
// X11 in an X session, the uinput virtual pointer in a Wayland session. The
// cursor and mouse operations of platform.h go to the one chosen.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linux_backend.h"
#include "platform/platform.h"

namespace {

bool Set(const char* value) { return value != nullptr && value[0] != '\0'; }

}  // namespace

namespace linuxbackend {

DesktopChoice ChooseDesktop(const char* waylandDisplay, const char* display,
                            int uinputOpenError) {
  DesktopChoice choice;
  choice.kind = kDesktopNone;
  choice.message[0] = '\0';
  char* m = choice.message;
  const size_t size = sizeof choice.message;
  if (!Set(waylandDisplay)) {
    if (Set(display)) {
      choice.kind = kDesktopX11;
    } else {
      std::snprintf(m, size,
                    "trevanquill: no desktop session: neither WAYLAND_DISPLAY nor DISPLAY "
                    "is set; start it from a terminal of the desktop\n");
    }
    return choice;
  }
  switch (uinputOpenError) {
    case 0:
      choice.kind = kDesktopUinput;
      break;
    case EACCES:
    case EPERM:
      std::snprintf(m, size,
                    "trevanquill: Wayland session, but /dev/uinput may not be opened (%s): "
                    "install the tool's udev rule 60-trevanquill-uinput.rules, then run "
                    "'sudo udevadm trigger --sysname-match=uinput' or restart\n",
                    std::strerror(uinputOpenError));
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      std::snprintf(m, size,
                    "trevanquill: Wayland session, but there is no /dev/uinput (%s): load "
                    "the kernel's uinput module with 'sudo modprobe uinput'\n",
                    std::strerror(uinputOpenError));
      break;
    default:
      std::snprintf(m, size, "trevanquill: Wayland session, but /dev/uinput cannot be opened (%s)\n",
                    std::strerror(uinputOpenError));
      break;
  }
  return choice;
}

bool StartDesktop() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  int uinputFd = -1;
  int uinputError = 0;
  if (Set(wayland)) {
    uinputFd = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (uinputFd < 0) uinputError = errno;
  }
  const DesktopChoice choice = ChooseDesktop(wayland, std::getenv("DISPLAY"), uinputError);
  switch (choice.kind) {
    case kDesktopX11:
      return OpenDesktop();
    case kDesktopUinput:
      return OpenUinputDesktop(uinputFd);
    case kDesktopNone:
      break;
  }
  std::fputs(choice.message, stderr);
  return false;
}

void StopDesktop() {
  CloseUinputDesktop();
  CloseDesktop();
}

int DesktopWaitFd() { return UinputDesktopOpen() ? CompositorWaitFd() : X11WaitFd(); }

bool DesktopConnectionCarriesNews() { return UinputDesktopOpen(); }

}  // namespace linuxbackend

// While the virtual pointer is there, it has the calls; otherwise the X11
// desktop (also for the tests that open it on their own).
namespace platform {

bool DesktopLost() {
  return linuxbackend::UinputDesktopOpen() ? uinput::DesktopLost() : x11::DesktopLost();
}

void SetCursorPos(int x, int y) {
  if (linuxbackend::UinputDesktopOpen()) {
    uinput::SetCursorPos(x, y);
  } else {
    x11::SetCursorPos(x, y);
  }
}

void GetCursorPos(int* x, int* y) {
  if (linuxbackend::UinputDesktopOpen()) {
    uinput::GetCursorPos(x, y);
  } else {
    x11::GetCursorPos(x, y);
  }
}

void MouseEvent(uint32_t flags, int32_t data) {
  if (linuxbackend::UinputDesktopOpen()) {
    uinput::MouseEvent(flags, data);
  } else {
    x11::MouseEvent(flags, data);
  }
}

}  // namespace platform
