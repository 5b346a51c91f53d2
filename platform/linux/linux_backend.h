// The parts of the Linux backend, each with its own start and stop, so that
// the tests can bring up one part against a real X server or a
// pseudo-terminal without the others.
#pragma once

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

// The X connection, whose end (the server closing it) ends a read that waits
// without a time limit; -1 when there is none.
int DesktopWaitFd();

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
// arrives on ConsoleWaitFd, the X connection DesktopWaitFd ends, or a stop
// signal comes (see wait_watch.cpp). Started after the desktop and the
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
