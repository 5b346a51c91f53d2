// The console: keys from standard input without waiting, text to standard
// output, and the signals that ask the run to end.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "linux_backend.h"
#include "platform/platform.h"

namespace {

int inputFd = -1;
bool inputEnded = true;

// The terminal's mode as StartConsole found it. Written before the handlers
// can look at it; read by the signal handlers.
termios savedMode;
volatile sig_atomic_t terminalChanged = 0;

// Bytes read from the input and not yet taken as keys.
constexpr int kPendingSize = 64;
uint8_t pending[kPendingSize];
int pendingStart = 0;
int pendingEnd = 0;
// The last read filled all the room there was: more bytes may wait in the
// input.
bool moreMayWait = false;

volatile sig_atomic_t stopRequested = 0;
std::atomic<int> signalsSeen{0};

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kFatalSignals[] = {SIGQUIT, SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV};

void RestoreTerminal() {
  if (terminalChanged) {
    tcsetattr(inputFd, TCSANOW, &savedMode);
    terminalChanged = 0;
  }
}

// Puts the terminal back and lets the signal do what it does by default.
void DieBySignal(int sig) {
  RestoreTerminal();
  signal(sig, SIG_DFL);
  raise(sig);
}

void OnStopSignal(int sig) {
  signalsSeen.fetch_add(1);
  if (stopRequested) {
    // Asked twice: the run did not end by itself, end it now.
    DieBySignal(sig);
    return;
  }
  stopRequested = 1;
  // The signal may have come just before a read began to wait.
  linuxbackend::NoteWaitEvent();
}

void OnFatalSignal(int sig) { DieBySignal(sig); }

void SetHandler(int sig, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(sig, &action, nullptr);
}

bool PendingEmpty() { return pendingStart == pendingEnd; }

// Reads what the input holds, waiting at most waitMs for the first byte.
// Returns whether anything new arrived.
bool FillPending(int waitMs) {
  if (inputEnded) return false;
  if (pendingStart == pendingEnd) pendingStart = pendingEnd = 0;
  if (pendingEnd == kPendingSize) return false;  // full: take keys first
  pollfd p = {inputFd, POLLIN, 0};
  const int ready = poll(&p, 1, waitMs);
  if (ready == 0) moreMayWait = false;  // whatever there was has been read
  if (ready <= 0) return false;  // nothing, or a signal (looked at by the caller)
  if ((p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0) return false;
  const ssize_t got = read(inputFd, pending + pendingEnd, kPendingSize - pendingEnd);
  if (got > 0) {
    moreMayWait = got == kPendingSize - pendingEnd;
    pendingEnd += static_cast<int>(got);
    return true;
  }
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return false;
  // End of input, or an input that cannot be read: no key ever again.
  inputEnded = true;
  return false;
}

int TakeByte() { return pending[pendingStart++]; }

// The next byte of a sequence, waiting briefly for it to arrive; -1 if none.
int NextSequenceByte() {
  if (PendingEmpty() && !FillPending(linuxbackend::kEscapeWaitMs)) return -1;
  return TakeByte();
}

// After an Esc byte that another byte follows: take the rest of the sequence.
// CSI (Esc [) runs up to a final byte 0x40-0x7E; SS3 (Esc O) has one more
// byte; anything else is Esc plus one key (Alt+key).
void SkipSequence() {
  const int introducer = TakeByte();
  if (introducer == 'O') {
    NextSequenceByte();
    return;
  }
  if (introducer != '[') return;
  for (int i = 0; i < kPendingSize; ++i) {
    const int b = NextSequenceByte();
    if (b < 0 || (b >= 0x40 && b <= 0x7E)) return;
  }
}

}  // namespace

namespace linuxbackend {

void StartConsole(int inFd) {
  StopConsole();
  inputFd = inFd;
  inputEnded = false;
  pendingStart = pendingEnd = 0;
  moreMayWait = false;
  if (fcntl(inFd, F_GETFD) < 0) {
    inputEnded = true;
    return;
  }
  if (!isatty(inFd)) return;
  // Started in the background of a shell: touching the terminal would stop
  // the tool (SIGTTOU, SIGTTIN). It takes no keys then; Ctrl+C reaches it
  // only in the foreground anyway, a signal still ends it.
  const pid_t foreground = tcgetpgrp(inFd);
  if (foreground >= 0 && foreground != getpgrp()) {
    inputEnded = true;
    return;
  }
  if (tcgetattr(inFd, &savedMode) != 0) return;
  // Also on a way out that skips StopConsole (exit() from anywhere).
  static bool exitHookSet = false;
  if (!exitHookSet) exitHookSet = atexit(RestoreTerminal) == 0;
  termios mode = savedMode;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (tcsetattr(inFd, TCSANOW, &mode) == 0) terminalChanged = 1;
}

void StopConsole() {
  RestoreTerminal();
  inputEnded = true;
}

void InstallSignalHandlers() {
  for (int sig : kStopSignals) SetHandler(sig, OnStopSignal);
  for (int sig : kFatalSignals) SetHandler(sig, OnFatalSignal);
  signal(SIGPIPE, SIG_IGN);
}

void RemoveSignalHandlers() {
  for (int sig : kStopSignals) signal(sig, SIG_DFL);
  for (int sig : kFatalSignals) signal(sig, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
}

bool StopRequested() { return stopRequested != 0; }
int SignalsSeen() { return signalsSeen.load(); }
void CountSignal() { signalsSeen.fetch_add(1); }

int ConsoleWaitFd() { return inputEnded ? -1 : inputFd; }

bool ConsoleKeyBuffered() { return !PendingEmpty() || (moreMayWait && !inputEnded); }
void ClearStopRequest() { stopRequested = 0; }

}  // namespace linuxbackend

namespace platform {

// Asked on every pass: the input is looked at only when the wait watcher saw
// bytes come (or does not watch it), or the last read had no room for all.
bool KeyWaiting() {
  if (stopRequested || !PendingEmpty()) return true;
  if (!moreMayWait && !linuxbackend::TakeConsoleNews()) return false;
  FillPending(0);
  return stopRequested || !PendingEmpty();
}

int ReadKey() {
  if (stopRequested) return kKeyEsc;
  if (PendingEmpty() && !FillPending(0)) return 0;
  const int b = TakeByte();
  if (b != kKeyEsc) return b;
  // A lone Esc byte is the Esc key; Esc with more behind it, sent at once by
  // the terminal, is one other key (an arrow, a function key).
  if (PendingEmpty() && !FillPending(linuxbackend::kEscapeWaitMs)) return kKeyEsc;
  if (pending[pendingStart] == kKeyEsc) return kKeyEsc;  // Esc pressed twice
  SkipSequence();
  return linuxbackend::kKeySequence;
}

void ConsoleWrite(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void ShowMessage(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}

}  // namespace platform
