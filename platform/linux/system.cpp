// Start and stop of the backend, time and threads.
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "linux_backend.h"
#include "platform/platform.h"

namespace {

// Standard input, output and error must be open before the display
// connection is: otherwise the X socket could take one of their numbers and
// console reads or writes would land on it.
void OccupyClosedStandardFds() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

constexpr int kMaxThreads = 4;
pthread_t threads[kMaxThreads];
bool threadUsed[kMaxThreads] = {};

void* RunBody(void* body) {
  reinterpret_cast<void (*)()>(body)();
  return nullptr;
}

}  // namespace

namespace platform {

bool StartPlatform() {
  OccupyClosedStandardFds();
  // A closed standard input reads as /dev/null now: it never has a key.
  if (!linuxbackend::StartDesktop()) return false;
  linuxbackend::InstallSignalHandlers();
  linuxbackend::StartConsole(0);
  linuxbackend::StartWaitWatch();
  return true;
}

void StopPlatform() {
  linuxbackend::StopWaitWatch();
  linuxbackend::StopConsole();
  linuxbackend::StopDesktop();
  linuxbackend::StopHid();
  linuxbackend::RemoveSignalHandlers();
}

int64_t QueryCounter() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t QueryFrequency() { return 1000000000; }

void SleepMilliseconds(int ms) {
  timespec left = {ms / 1000, static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

ThreadHandle StartThread(void (*body)()) {
  for (int i = 0; i < kMaxThreads; ++i) {
    if (threadUsed[i]) continue;
    if (pthread_create(&threads[i], nullptr, RunBody,
                       reinterpret_cast<void*>(body)) != 0) {
      return kNoThread;
    }
    threadUsed[i] = true;
    return i;
  }
  return kNoThread;
}

void JoinThread(ThreadHandle thread) {
  if (thread < 0 || thread >= kMaxThreads || !threadUsed[thread]) return;
  pthread_join(threads[thread], nullptr);
  threadUsed[thread] = false;
}

}  // namespace platform
