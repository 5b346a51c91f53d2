// Every operation the tool's logic needs from the system, as free functions.
//
// The logic (remote/, pointer/, app/) includes this header and the standard
// library only. The build links exactly one implementation of it: the OS
// backend (platform/linux/, platform/windows/) for the program, the test
// platform (tests/fake/) for the tests.
#pragma once

#include <cstdint>

// Signed 32-bit handle of the opened remote; -1 means that no remote was found.
typedef int32_t HidHandle;

namespace platform {

// ---------------------------------------------------------------- HID access

// Size of the tool's report buffers. A backend never reads or writes past it.
constexpr int kReportBufferSize = 256;

// How long a read waits for the remote's next report. The remote reports
// about every 10 ms while anything changes and only on change otherwise, so a
// quiet remote may send nothing for hours. The control loop's read has no
// time limit (kNoTimeLimit), so that nothing wakes the tool unless something
// happened: such a read ends, without a report, as soon as a console key is
// waiting, a stop request has come (SIGINT, SIGTERM, SIGHUP; Ctrl+C,
// Ctrl+Break, the console closing) or the desktop has gone away (the X server
// closed the connection), and the loop's next pass sees it. A report that is
// already there when the read starts is taken first.
constexpr int kNoTimeLimit = -1;

// Two reads keep a bound, and wait it out unless a report comes (a signal may
// end them early):
// - the probe worker's, kProbeReadLimitMs: the worker looks at probeRun after
//   every read, so it leaves its loop within this time of the probe's end,
//   far inside the 400 ms of the set-up that follows; a silent remote costs
//   the probe 2 or 3 wake-ups, once per run;
// - the control loop's while it wants to select the report mode again and
//   may not yet (at most one selection per kModeKeepMs, or a selection that
//   did not reach the remote): the remote may send nothing until it has the
//   mode, so the read waits until the next selection is due, one wake-up per
//   try and only then; Esc is seen within that time.
constexpr int kProbeReadLimitMs = 50;

// Opens a HID device with these vendor and product numbers that no other
// program of the tool holds, and holds it until CloseHidHandle: a second tool
// started on the same remote must leave it alone (two tools would each move
// the cursor and each answer the buttons). With two such devices connected the
// second tool takes the one the first does not hold. Returns -1 when there is
// none (or none can be opened), kHidBusy when there is one but another tool
// holds it (and every other one too); the busy device is not touched. (The
// Linux backend holds a remote with a lock on its node; the Windows backend
// opens it shared, and finds it busy only when a program holds it without
// sharing.)
constexpr HidHandle kHidBusy = -2;
HidHandle OpenHidHandle(uint16_t vendor, uint16_t product);

enum ReadOutcome {
  kReadReport = 0,      // a report is in the buffer; its length is in *resultSlot
  kReadNoReport = 1,    // the time limit ran out, the wait was ended by a key,
                        // a stop request or a lost desktop, or the read failed once
  kReadDeviceLost = 2,  // the device is gone for good
};

// Waits at most timeLimitMs (kNoTimeLimit: until a report comes or the wait
// is ended as said above) for the device's next input report and places it in
// buffer (report number in byte 0, at most kReportBufferSize bytes).
// *resultSlot receives the number of bytes placed (0 when none).
ReadOutcome ReadReport(HidHandle handle, uint8_t* buffer, int32_t* resultSlot,
                       int timeLimitMs);

// Sends buffer as one output report, report number in byte 0. The backend
// decides how many bytes travel (see OutputReportLength). Returns the number
// of bytes written, or -1 on failure; *resultSlot receives the same value.
int WriteReport(HidHandle handle, const uint8_t* buffer, int32_t* resultSlot);

void CloseHidHandle(HidHandle handle);

// The length the remote expects for each output report the tool sends,
// number byte included: LEDs, IR enables and status request carry one byte of
// payload, the report mode two, a register write 21.
constexpr int OutputReportLength(uint8_t reportNumber) {
  switch (reportNumber) {
    case 0x11: case 0x13: case 0x15: case 0x1A: return 2;
    case 0x12: return 3;
    case 0x16: return 22;
    default: return 22;
  }
}

// ---------------------------------------------------------------- desktop

// Brings up the desktop side (display connection, console mode, signal
// handling). Returns false when the desktop cannot be reached; the backend has
// then said why on the error stream, and nothing else has been done.
bool StartPlatform();

// Undoes StartPlatform (console mode restored, display closed). Safe to call
// after a failed StartPlatform and more than once.
void StopPlatform();

// True once the desktop has gone away during the run (the display closed).
bool DesktopLost();

// Moves the cursor to (x, y) at once; any integers, kept on the screen.
void SetCursorPos(int x, int y);

// The cursor's current on-screen position.
void GetCursorPos(int* x, int* y);

// Synthetic mouse input, with the flags of the original console program.
constexpr uint32_t kMouseLeftDown = 0x0002;
constexpr uint32_t kMouseLeftUp = 0x0004;
constexpr uint32_t kMouseRightDown = 0x0008;
constexpr uint32_t kMouseRightUp = 0x0010;
constexpr uint32_t kMouseWheel = 0x0800;

// Injects one button or wheel event. data is the wheel amount (positive: away
// from the user, "up"), 0 for button events.
void MouseEvent(uint32_t flags, int32_t data);

// ---------------------------------------------------------------- console

// Writes text to the console and flushes it.
void ConsoleWrite(const char* text);

// Whether a console key is waiting, without waiting. A request from the
// system to end the run (Ctrl+C, a termination signal, the console closing)
// also counts as a waiting key, which reads as Esc.
bool KeyWaiting();

constexpr int kKeyEsc = 27;

// Reads one waiting key without echo; Esc reads as kKeyEsc. A key that the
// console reports as a sequence starting with the Esc byte reads as one key
// other than kKeyEsc.
int ReadKey();

// Shows an error message to the user and returns when it has been seen.
void ShowMessage(const char* text);

// ---------------------------------------------------------------- time

// A monotonic high-resolution counter and its ticks per second.
int64_t QueryCounter();
int64_t QueryFrequency();

// Suspends the calling thread.
void SleepMilliseconds(int ms);

// Busy wait until strictly more than ms milliseconds have passed on the
// high-resolution counter. Never sleeps or yields.
void WaitMilliseconds(int ms);

// ---------------------------------------------------------------- threads

typedef int ThreadHandle;
constexpr ThreadHandle kNoThread = -1;

// Starts body on a new thread; kNoThread when it cannot be started.
ThreadHandle StartThread(void (*body)());

// Waits until the thread has ended and releases it.
void JoinThread(ThreadHandle thread);

}  // namespace platform
