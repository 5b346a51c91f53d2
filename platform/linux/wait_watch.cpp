// Ends the control loop's read, which has no time limit, when something that
// the loop looks at happens: a console key, a stop signal, the X server
// closing the connection.
//
// The read waits inside hidapi, in poll() on the hidraw node, which only a
// signal can cut short (hidapi then returns -1, which hid.cpp reads as "no
// report"). So a watcher thread sleeps in epoll_wait on the events and, when
// one comes, sends the reading thread a signal. The reader may be between its
// last look at the events and poll()'s entry when the signal lands; that
// signal is spent for nothing and poll() would sleep on. The watcher
// therefore sends the signal again, every kResendMs, for as long as the very
// same wait is still going (waitSeq unchanged and odd). Together with the
// reader's look at wakePending after it made waitSeq odd (both sequentially
// consistent), no event is lost: either the reader sees the flag and does not
// wait, or the watcher sees the wait and keeps signalling until it ends.
//
// Why not the alternatives: O_ASYNC/SIGIO on standard input changes the
// terminal's open file, which the shell shares, and leaves a dangling owner
// when the tool is killed; a longjmp out of hidapi from a signal handler may
// leave its allocations or locks half done. The watcher costs nothing while
// nothing happens (it sleeps in epoll_wait, and the reader only touches two
// atomics per read), and one extra wake-up per event.
//
// It watches standard input for new bytes (edge-triggered: one wake-up per
// arrival, however long the key stays unread) and the X connection for its
// end only (EPOLLRDHUP: the replies that arrive on every pass wake nobody);
// the Wayland compositor's connection, to which the tool sends nothing during
// the run, for every arrival (a monitor change) and its end. Stop signals
// reach it through an eventfd that their handler writes.
//
// The same arrivals tell the loop's pass when to look: the console and the
// compositor's connection are read only after the watcher has seen
// something come on them (TakeConsoleNews, TakeDesktopNews), so a pass
// makes no system call for them while nothing comes. A news flag is taken
// (cleared) before the look that reads, so bytes that arrive after the flag
// was taken bring a new one: edge-triggered epoll reports every arrival.
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "linux_backend.h"

namespace {

// While a wait goes on that the watcher has been told to end, it repeats the
// signal this often.
constexpr long kResendMs = 1;

std::atomic<unsigned> waitSeq{0};  // odd while the reader is in an endable wait
// Set by the watcher for a key or the X connection's end that came when no
// wait was going on: the next wait does not begin.
std::atomic<bool> wakePending{false};
// waitSeq when a stop signal came. A stop request needs no flag, the reader
// looks at it before it waits; only a wait that was going on then needs to be
// ended.
std::atomic<unsigned> stopSeq{0};
std::atomic<pthread_t> reader{};
std::atomic<bool> quit{false};
// Something came on the console or the desktop's connection since the loop
// last looked. True at the start: what came before the watcher is looked at.
std::atomic<bool> consoleNews{true};
std::atomic<bool> desktopNews{true};

int eventFd = -1;
int epollFd = -1;
// The descriptors watched for news; -1 when not (none, or one that epoll
// cannot watch: a regular file, /dev/null).
int consoleFd = -1;
int desktopFd = -1;
pthread_t watcher;
bool watching = false;

int WakeSignal() { return SIGRTMIN; }

// Only cuts the reader's poll() short; the count lets hid.cpp tell that from a
// failed read.
void OnWakeSignal(int) { linuxbackend::CountSignal(); }

void SleepMs(long ms) {
  timespec t = {0, ms * 1000000L};
  nanosleep(&t, nullptr);
}

// Signals the reader until the wait with this number has ended.
void EndWait(unsigned seq) {
  if ((seq & 1) == 0) return;  // no wait then
  while (waitSeq.load() == seq && !quit.load()) {
    pthread_kill(reader.load(), WakeSignal());
    SleepMs(kResendMs);
  }
}

// The watcher's own table of descriptors, holding only the two it waits on.
// A thread shares its process's table, and while a table has more than one
// user the kernel takes and drops a reference on the open file in every
// system call on a descriptor; with the watcher on a table of its own the
// loop's reads and writes (the remote's node, the virtual pointer, the X
// connection) take the single-user path again. The copies of the other
// descriptors are closed, so that nothing the loop closes stays open here
// (the remote's lock, the compositor's connection). Should either call fail,
// the watcher shares the table as any thread does, which only costs more.
void KeepOwnDescriptors(int keepA, int keepB) {
  if (unshare(CLONE_FILES) != 0) return;
  const int low = keepA < keepB ? keepA : keepB;
  const int high = keepA < keepB ? keepB : keepA;
  if (low > 0) close_range(0, static_cast<unsigned>(low) - 1, 0);
  if (high > low + 1) close_range(static_cast<unsigned>(low) + 1, static_cast<unsigned>(high) - 1, 0);
  close_range(static_cast<unsigned>(high) + 1, ~0U, 0);
}

// Posted by the watcher once it runs on its own table.
sem_t watcherReady;

void* Watch(void*) {
  KeepOwnDescriptors(epollFd, eventFd);
  sem_post(&watcherReady);
  for (;;) {
    epoll_event events[4];
    const int n = epoll_wait(epollFd, events, 4, -1);
    if (n <= 0) continue;
    bool stop = false;
    bool input = false;
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == eventFd) {
        uint64_t count;
        (void)!read(eventFd, &count, sizeof count);
        stop = true;
        continue;
      }
      // Before the wait is ended: the pass after it must see the news.
      if (fd == consoleFd) consoleNews.store(true);
      if (fd == desktopFd) desktopNews.store(true);
      input = true;
    }
    if (quit.load()) return nullptr;
    if (input) {
      wakePending.store(true);
      EndWait(waitSeq.load());
    }
    if (stop) EndWait(stopSeq.load());
  }
}

bool Watch(int fd, uint32_t events) {
  epoll_event e = {};
  e.events = events;
  e.data.fd = fd;
  return epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &e) == 0;
}

void CloseFds() {
  if (epollFd >= 0) close(epollFd);
  if (eventFd >= 0) close(eventFd);
  epollFd = eventFd = -1;
}

}  // namespace

namespace linuxbackend {

bool StartWaitWatch() {
  if (watching) return true;
  eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epollFd = epoll_create1(EPOLL_CLOEXEC);
  if (eventFd < 0 || epollFd < 0 || !Watch(eventFd, EPOLLIN)) {
    CloseFds();
    return false;
  }
  // A regular file or /dev/null cannot be watched; it never waits anyway,
  // and the loop looks at it on every pass.
  consoleFd = ConsoleWaitFd();
  if (consoleFd >= 0 && !Watch(consoleFd, EPOLLIN | EPOLLET)) consoleFd = -1;
  desktopFd = DesktopWaitFd();
  const uint32_t desktopEvents =
      DesktopConnectionCarriesNews() ? EPOLLIN | EPOLLRDHUP | EPOLLET : EPOLLRDHUP | EPOLLET;
  if (desktopFd >= 0 && !Watch(desktopFd, desktopEvents)) desktopFd = -1;
  consoleNews.store(true);
  desktopNews.store(true);

  struct sigaction action = {};
  action.sa_handler = OnWakeSignal;
  sigemptyset(&action.sa_mask);
  // A signal that lands after the wait (the reader just returned) only
  // restarts what it interrupts, as the stop signals' handlers do.
  action.sa_flags = SA_RESTART;
  sigaction(WakeSignal(), &action, nullptr);

  quit.store(false);
  wakePending.store(false);
  // The watcher takes no signal: the stop signals go to the threads that
  // wait in the tool's work, and a signal meant for the reader to the reader.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  sem_init(&watcherReady, 0, 0);
  watching = pthread_create(&watcher, nullptr, Watch, nullptr) == 0;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  // The loop starts once the watcher's table is its own: from its first
  // read on, the loop's table is unshared.
  if (watching) {
    while (sem_wait(&watcherReady) != 0 && errno == EINTR) {
    }
  }
  sem_destroy(&watcherReady);
  if (!watching) {
    CloseFds();
    consoleFd = desktopFd = -1;
    consoleNews.store(true);
    desktopNews.store(true);
  }
  return watching;
}

void StopWaitWatch() {
  if (!watching) return;
  quit.store(true);
  NoteWaitEvent();
  pthread_join(watcher, nullptr);
  watching = false;
  CloseFds();
  consoleFd = desktopFd = -1;
  consoleNews.store(true);
  desktopNews.store(true);
  // A signal still on its way does nothing.
  signal(WakeSignal(), SIG_IGN);
}

void NoteWaitEvent() {
  stopSeq.store(waitSeq.load());
  if (eventFd < 0) return;
  const uint64_t one = 1;
  (void)!write(eventFd, &one, sizeof one);
}

int BeginEndableWait() {
  reader.store(pthread_self());
  waitSeq.fetch_add(1);
  if (wakePending.exchange(false) || StopRequested() || ConsoleKeyBuffered()) return 0;
  return watching ? kLongestWaitMs : kUnwatchedWaitMs;
}

void FinishEndableWait() {
  // Whatever came meanwhile, the loop's next pass looks at it itself.
  wakePending.store(false);
  waitSeq.fetch_add(1);
}

bool InEndableWait() { return (waitSeq.load() & 1) != 0; }

// Without a watcher on it the flag stays set: the loop looks every time.
bool TakeConsoleNews() { return consoleNews.exchange(consoleFd < 0); }

bool TakeDesktopNews() { return desktopNews.exchange(desktopFd < 0); }

}  // namespace linuxbackend
