// The desktop side on Windows: cursor and synthetic mouse input, the console
// and its control events, message boxes, the high-resolution counter and the
// worker thread.
#include <windows.h>
#include <conio.h>
#include <process.h>

#include <atomic>
#include <cstdio>

#include "platform/platform.h"
#include "platform/windows/backend.h"

namespace platform {

namespace {

// A Ctrl+C, Ctrl+Break or close of the console that the loop has not yet read
// as Esc.
std::atomic<bool> controlEventPending{false};
// Set with controlEventPending, so that a read waiting for the remote ends.
HANDLE controlEvent = nullptr;
// The console's input, when the process has a console.
HANDLE consoleInput = nullptr;
// Set by StopPlatform, so that the handler of a closing console can let the
// system end the process once the shutdown has run.
HANDLE shutdownDone = nullptr;
bool handlerInstalled = false;

// The system ends the process 5 s after a close event; the shutdown needs far
// less, and this keeps the handler inside that grace.
constexpr DWORD kCloseGraceMs = 4500;

// _getch gives an arrow or function key as 0 or 0xE0 followed by its code.
constexpr int kExtendedPrefix1 = 0x00;
constexpr int kExtendedPrefix2 = 0xE0;
constexpr int kExtendedKeyBase = 0x100;

constexpr int kMaxThreads = 4;
HANDLE threads[kMaxThreads];

unsigned __stdcall ThreadEntry(void* body) {
  reinterpret_cast<void (*)()>(body)();
  return 0;
}

}  // namespace

namespace windows_backend {

BOOL WINAPI ConsoleControlHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      controlEventPending.store(true);
      if (controlEvent) SetEvent(controlEvent);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      controlEventPending.store(true);
      if (controlEvent) SetEvent(controlEvent);
      // The process ends when this returns: give the main thread the time to
      // put the remote back and close it.
      if (shutdownDone) WaitForSingleObject(shutdownDone, kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

int WaitEndHandles(HANDLE* handles) {
  int n = 0;
  if (controlEvent) handles[n++] = controlEvent;
  if (consoleInput) handles[n++] = consoleInput;
  return n;
}

bool WaitEndReady() {
  if (controlEventPending.load()) return true;
  if (!consoleInput) return false;
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!PeekConsoleInputA(consoleInput, &record, 1, &got) || got == 0) return false;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
        record.Event.KeyEvent.uChar.AsciiChar != 0) {
      return true;
    }
    if (!ReadConsoleInputA(consoleInput, &record, 1, &got) || got == 0) return false;
  }
}

bool WaitForTransfer(HANDLE file, OVERLAPPED* ov, DWORD limitMs, bool endable) {
  HANDLE handles[3] = {ov->hEvent};
  const DWORD count = 1 + (endable ? WaitEndHandles(handles + 1) : 0);
  const DWORD start = GetTickCount();
  for (;;) {
    // A report that is there already comes first.
    if (WaitForSingleObject(ov->hEvent, 0) == WAIT_OBJECT_0) return true;
    if (endable && WaitEndReady()) break;
    DWORD left = limitMs;
    if (limitMs != INFINITE) {
      const DWORD passed = GetTickCount() - start;
      left = passed >= limitMs ? 0 : limitMs - passed;
    }
    // The lowest index wins: a report before a key.
    const DWORD woken = WaitForMultipleObjects(count, handles, FALSE, left);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken == WAIT_TIMEOUT || woken == WAIT_FAILED) break;
    // The control event or the console input: looked at again above. An
    // event that is set with nothing pending (a key read meanwhile) is
    // cleared first, so that it does not spin this loop; a control event
    // that comes after the clearing sets the flag looked at above.
    if (handles[woken - WAIT_OBJECT_0] == controlEvent && !controlEventPending.load()) {
      ResetEvent(controlEvent);
    }
  }
  CancelIo(file);
  return false;
}

}  // namespace windows_backend

bool StartPlatform() {
  controlEventPending.store(false);
  if (!controlEvent) controlEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(controlEvent);
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode;
  consoleInput = input != INVALID_HANDLE_VALUE && input && GetConsoleMode(input, &mode)
                     ? input
                     : nullptr;
  if (!shutdownDone) shutdownDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(shutdownDone);
  handlerInstalled =
      SetConsoleCtrlHandler(windows_backend::ConsoleControlHandler, TRUE) != 0;
  return true;
}

void StopPlatform() {
  std::fflush(stdout);
  if (shutdownDone) SetEvent(shutdownDone);
  if (handlerInstalled) {
    SetConsoleCtrlHandler(windows_backend::ConsoleControlHandler, FALSE);
    handlerInstalled = false;
  }
}

// The Windows desktop stays while the process runs.
bool DesktopLost() { return false; }

// The system keeps the cursor on the screen.
void SetCursorPos(int x, int y) { ::SetCursorPos(x, y); }

void GetCursorPos(int* x, int* y) {
  POINT p = {0, 0};
  ::GetCursorPos(&p);
  *x = p.x;
  *y = p.y;
}

void MouseEvent(uint32_t flags, int32_t data) {
  INPUT input;
  ZeroMemory(&input, sizeof input);
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  // The wheel takes the amount as it is: 64 of a notch's 120 units.
  input.mi.mouseData = static_cast<DWORD>(data);
  SendInput(1, &input, sizeof input);
}

void ConsoleWrite(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// What ends a wait is a key waiting. With a console on standard input that
// look is the whole answer: a key's press at the end of the input (its release
// not there yet) ends the wait, and the C library's _kbhit under Wine does not
// look at the input's last record. Asked once per pass of the loop, so
// _kbhit's own look at the console is made only where there is no such
// console.
bool KeyWaiting() {
  if (windows_backend::WaitEndReady()) return true;
  return !consoleInput && _kbhit() != 0;
}

int ReadKey() {
  // Cleared before the flag is taken: a control event in between leaves the
  // event set, which ends one wait for nothing, rather than the flag set with
  // the event clear.
  if (controlEventPending.load() && controlEvent) ResetEvent(controlEvent);
  if (controlEventPending.exchange(false)) return kKeyEsc;
  const int key = _getch();
  if ((key == kExtendedPrefix1 || key == kExtendedPrefix2) && _kbhit()) {
    return kExtendedKeyBase + _getch();
  }
  return key;
}

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, nullptr, MB_OK); }

int64_t QueryCounter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int64_t QueryFrequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

void SleepMilliseconds(int ms) { Sleep(static_cast<DWORD>(ms)); }

ThreadHandle StartThread(void (*body)()) {
  for (int i = 0; i < kMaxThreads; ++i) {
    if (threads[i]) continue;
    const uintptr_t h = _beginthreadex(nullptr, 0, ThreadEntry,
                                       reinterpret_cast<void*>(body), 0, nullptr);
    if (h == 0) return kNoThread;
    threads[i] = reinterpret_cast<HANDLE>(h);
    return i;
  }
  return kNoThread;
}

void JoinThread(ThreadHandle thread) {
  if (thread < 0 || thread >= kMaxThreads || !threads[thread]) return;
  WaitForSingleObject(threads[thread], INFINITE);
  CloseHandle(threads[thread]);
  threads[thread] = nullptr;
}

}  // namespace platform
