// The parts of the Linux backend, each with its own start and stop, so that
// the tests can bring up one part against a real X server or a
// pseudo-terminal without the others.
#pragma once

#include <linux/input.h>

#include <cstdint>

namespace linuxbackend {

// ---------------------------------------------------------------- desktop (X11)

// Connects to the X display named by the usual Xlib rules. On failure prints
// one line naming the display on stderr and returns false.
bool OpenDesktop();
// Closes the connection (if the server has not gone away); safe to repeat.
void CloseDesktop();

// X11 carries coordinates as signed 16-bit numbers; larger ones wrap.
int ClampCoordinate(int value);

// The wheel: every event carries a signed amount of units and X11 counts whole
// notches of 120 units. Adds amount to *accumulator and returns how many
// notches to send (positive: up, button 4; negative: down, button 5), keeping
// the rest. A change of direction drops the rest and starts the count afresh.
int TakeWheelNotches(int32_t* accumulator, int32_t amount);
constexpr int32_t kWheelNotchUnits = 120;

// True once the X server has gone away during the run.
bool DesktopGone();

// The desktop's connection, whose end (the X server or the Wayland
// compositor closing it) ends a read that waits without a time limit; -1 when
// there is none.
int DesktopWaitFd();
// The same for each desktop.
int X11WaitFd();
int CompositorWaitFd();
// Whether whatever arrives on that connection is news for the loop (the
// compositor's, which only brings monitor changes during the run) rather than
// only its end (X11's, whose replies come on every pass).
bool DesktopConnectionCarriesNews();

// ---------------------------------------------------------------- choice of desktop

// How the tool reaches the desktop: X11 (Xlib and XTest) in an X session; in
// a Wayland session, where no client may move the pointer, a virtual pointer
// device made through the kernel's uinput, which the compositor reads like
// any mouse.
enum DesktopKind { kDesktopNone = 0, kDesktopX11 = 1, kDesktopUinput = 2 };

struct DesktopChoice {
  DesktopKind kind;
  // With kDesktopNone, the one line (ending in a line feed) that says why and
  // what to do.
  char message[320];
};

// The choice at start, from the session's WAYLAND_DISPLAY and DISPLAY (null
// or empty: not set) and the outcome of opening /dev/uinput (0: opened,
// otherwise the errno of the open; only looked at in a Wayland session). A
// Wayland session never falls back to X11: its X server (XWayland) does not
// move the pointer that native windows see.
DesktopChoice ChooseDesktop(const char* waylandDisplay, const char* display,
                            int uinputOpenError);

// Looks at the session, opens the desktop ChooseDesktop picks and routes the
// cursor and mouse operations to it. On failure one line on stderr says why,
// nothing is left open, and it returns false.
bool StartDesktop();
// Closes whichever desktop StartDesktop opened; safe to repeat.
void StopDesktop();

// ---------------------------------------------------------------- desktop (uinput)

// A rectangle of the desktop in logical pixels (what the compositor lays its
// monitors out in, and what the tool's coordinates are).
struct DesktopBox {
  int x, y, width, height;
};

// The smallest box holding every monitor of the layout (those with no size
// are left out); width 0 when there is none.
DesktopBox BoundingBox(const DesktopBox* outputs, int count);

// The virtual pointer: one absolute device (the cursor's place and the
// buttons) and one relative device (the wheel). A device that carries both
// relative and absolute axes has its absolute ones ignored by X servers'
// libinput driver, hence two.
struct UinputPointer {
  int absFd;  // writes go here: /dev/uinput, or a pipe in the tests
  int relFd;
  DesktopBox box;  // the desktop the device's range stands for; it has a size
  int lastX, lastY;  // the box's last pixel on each axis
  int sentX, sentY;  // the axis values the kernel last got
  int cursorX, cursorY;  // the pixel last placed, kept on the desktop
  int32_t wheelUnits;  // the wheel's rest towards a whole notch
  // The frame of a placement, kept between placements: its time fields stay
  // zero (the kernel stamps the events itself), the rest is filled in.
  input_event frame[3];
};

// The absolute axes' range: 0 to kAbsMax. The compositor stretches it over
// the whole desktop; each pixel gets a run of values (see AbsValue).
constexpr int kAbsMax = 65535;
// Units per millimetre given to the kernel for both axes; libinput wants one.
constexpr int kAbsResolution = 16;

// A fresh pointer over box (writes to absFd and relFd; the box must have a
// size, as every layout that the tool starts on has): the kernel's axes start
// at kAbsMax, a value no placement uses, so the first placement always
// reaches the compositor; the cursor is taken to be at the box's centre.
UinputPointer NewUinputPointer(int absFd, int relFd, DesktopBox box);

// The desktop changed (a monitor came, went or moved): the range stands for
// box from now on. A box with no size (every monitor gone) leaves the last
// layout in place.
void SetPointerBox(UinputPointer* pointer, DesktopBox box);

// The axis value for an offset of pixel pixels into a desktop size pixels
// wide: the smallest value that the compositor turns back into that pixel
// (it maps value v to v * size / (kAbsMax + 1) and then takes the pixel the
// point lies in), never kAbsMax.
int AbsValue(int pixel, int size);

// Places the cursor at (x, y), kept on the desktop, and returns the number of
// input events written (0 when it is already there). Only the axes whose
// value changes are written: the kernel drops a value equal to the last one,
// so this is what the compositor gets.
int PlaceCursor(UinputPointer* pointer, int x, int y);

// One button or wheel event with the flags of platform::MouseEvent: buttons
// from the absolute device, the wheel from the relative one (64 units of a
// 120-unit notch as REL_WHEEL_HI_RES, and REL_WHEEL once per whole notch).
void SendMouseEvent(UinputPointer* pointer, uint32_t flags, int32_t data);

// Makes the two devices on the open /dev/uinput descriptors (their bits,
// numbers and names) and waits until udev has announced them, so that the
// compositor's libinput takes them. False, with one line on stderr, when the
// kernel refuses.
bool CreateUinputDevices(int absFd, int relFd);

// Takes the open /dev/uinput descriptor absFd (closed on failure), opens a
// second one, reads the desktop from the compositor and makes the devices.
// On failure one line on stderr says why and nothing is left open.
bool OpenUinputDesktop(int absFd);
// Removes the devices and leaves the compositor; safe to repeat.
void CloseUinputDesktop();
// The virtual pointer on two descriptors whose devices are already made, over
// box, with no compositor to ask (for the benchmarks).
void StartUinputPointer(int absFd, int relFd, DesktopBox box);
// Whether the virtual pointer has the cursor and mouse calls.
bool UinputDesktopOpen();

// ---------------------------------------------------------------- compositor (Wayland)

// Connects to the compositor named by WAYLAND_DISPLAY and reads the logical
// layout of its monitors. On failure one line on stderr says why.
bool ConnectCompositor();
// The bounding box of the monitors as last announced.
DesktopBox CompositorDesktop();
// Reads all that the compositor sent since (monitors added, moved, removed):
// true when the layout changed. Sets *gone when the connection is lost. One
// poll() when nothing came; the run calls it only when the wait watcher saw
// something come (TakeDesktopNews).
bool UpdateCompositor(bool* gone);
void DisconnectCompositor();

// ---------------------------------------------------------------- HID

// Closes any device still open and frees hidapi's state.
void StopHid();

// The kernel's own driver for the remote makes an input device for its
// buttons beside the hidraw node; the tool holds an exclusive grab on its
// event node(s) while the remote is open (grab.cpp).
constexpr int kMaxGrabNodes = 4;
constexpr int kNodeNameSize = 32;
// Names (as "event3") the event nodes of the input devices with keys and no
// absolute axes that belong to the HID device behind hidraw node hidrawName
// ("hidraw0"), read from the sysfs tree at sysRoot; returns how many, at most
// max. None where no driver made input devices for it.
int FindButtonNodes(const char* sysRoot, const char* hidrawName,
                    char (*names)[kNodeNameSize], int max);
// Grabs those nodes for the remote opened as handle from hidrawPath
// ("/dev/hidraw0"). A node that cannot be opened or grabbed gets one warning
// line on stderr and is left alone.
void GrabButtonNodes(int handle, const char* hidrawPath);
// The same with sysfs at sysRoot and the event nodes in devInput (for
// tests); returns how many nodes the handle holds grabbed.
int GrabButtonNodesUnder(const char* sysRoot, const char* devInput, int handle,
                         const char* hidrawPath);
// Ends the grabs of that handle; safe to repeat.
void ReleaseButtonNodes(int handle);

// ---------------------------------------------------------------- console

// Reads keys from inFd: a terminal goes into non-canonical, no-echo mode
// until StopConsole; anything else (a pipe, a file, /dev/null) is read as
// bytes, and its end means that no key is waiting from then on.
void StartConsole(int inFd);
// Puts the terminal back as StartConsole found it; safe to repeat.
void StopConsole();

// SIGINT, SIGTERM and SIGHUP ask the run to end (they read as Esc); a second
// one of them, or a fatal signal, restores the terminal and ends the process
// the default way. SIGPIPE is ignored.
void InstallSignalHandlers();
void RemoveSignalHandlers();
// Whether a stop signal has arrived, and how many signals the handlers have
// seen so far (a system call that a signal interrupted fails with EINTR).
bool StopRequested();
int SignalsSeen();
// Forgets an earlier stop request (for tests).
void ClearStopRequest();
// Counts a signal that interrupted a wait (see SignalsSeen).
void CountSignal();

// The input whose new bytes end a read that waits without a time limit; -1
// while no keys are taken from it.
int ConsoleWaitFd();
// Whether bytes have been read and not yet taken as keys, or the last read
// had no room for all there may be: a key may be waiting without new input.
bool ConsoleKeyBuffered();

// ---------------------------------------------------------------- ending a wait

// A watcher thread that ends a read without a time limit when a console key
// arrives on ConsoleWaitFd, the desktop's connection DesktopWaitFd ends (or,
// for the compositor, brings news), or a stop signal comes (see
// wait_watch.cpp). Started after the desktop and the
// console; false when it cannot run.
bool StartWaitWatch();
void StopWaitWatch();
// Tells the watcher that a stop signal came, after StopRequested() has been
// made true; safe in a signal handler.
void NoteWaitEvent();
// Around such a read on the reading thread. BeginEndableWait returns how long
// the read may wait, in ms: 0 when something is already there (the read may
// still take a report that has arrived), kLongestWaitMs while the watcher
// runs, kUnwatchedWaitMs when it does not (the loop then looks at the console
// after each turn, as it did before). FinishEndableWait always follows.
int BeginEndableWait();
void FinishEndableWait();
// hidapi's longest wait, about 24 days: after one the loop goes round once.
constexpr int kLongestWaitMs = 0x7FFFFFFF;
constexpr int kUnwatchedWaitMs = 50;
// Whether a read is between the two (for tests).
bool InEndableWait();
// Whether the console's input (ConsoleWaitFd) or the desktop's connection
// may have brought something since the last call, which then looks at it:
// true once after each arrival the watcher saw, and always while the
// watcher does not watch that descriptor.
bool TakeConsoleNews();
bool TakeDesktopNews();

// A key that arrived as an escape sequence (arrows, function keys, Alt+key).
constexpr int kKeySequence = 256;
// How long a lone Esc byte waits for the rest of a sequence. A terminal sends
// a key's whole sequence with one write, and the console reads every byte
// that is waiting at once, so the rest of an arrow key's sequence is normally
// read together with its Esc byte; the wait only covers a sequence that
// reaches the terminal in two pieces. It is also what Esc costs before the
// loop ends, so it is kept short.
constexpr int kEscapeWaitMs = 2;

}  // namespace linuxbackend

// The cursor and mouse operations of platform.h, once per desktop; the ones
// in namespace platform pass each call to the desktop StartDesktop chose.
namespace platform::x11 {
bool DesktopLost();
void SetCursorPos(int x, int y);
void GetCursorPos(int* x, int* y);
void MouseEvent(uint32_t flags, int32_t data);
}  // namespace platform::x11

namespace platform::uinput {
bool DesktopLost();
void SetCursorPos(int x, int y);
void GetCursorPos(int* x, int* y);
void MouseEvent(uint32_t flags, int32_t data);
}  // namespace platform::uinput
