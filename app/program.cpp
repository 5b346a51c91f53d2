#include "app/program.h"

#include "pointer/control_loop.h"
#include "remote/remote.h"

std::atomic<uint8_t> probeRun{0};
std::atomic<uint8_t> probeActive{0};
std::atomic<uint8_t> probeAccelX{0};
platform::ThreadHandle probeThread = platform::kNoThread;

namespace {

constexpr int kProbeMs = 100;
constexpr int kWorkerPauseMs = 100;
// The remote takes its time to settle the camera between set-up blocks.
constexpr int kConfigPauseMs = 200;

const char* const kBanner[] = {
    "###########################################\n",
    "#                                         #\n",
    "#   Trevanquill Test version 0.1          #\n",
    "#                  build 2006.12.18       #\n",
    "#                                         #\n",
    "###########################################\n",
    "\n",
    "Usage:\n",
    "   up/down/left/right button  ... Move cursor\n",
    "   B button  ... Left click\n",
    "   A button  ... Right click\n",
    "   (1) button  ... Wheel up\n",
    "   (2) button  ... Wheel down\n",
    "   (+) button  ... Wheel down\n",
    "   (-) button  ... Wheel up\n",
    "   Home button  ... Quit\n",
    "\n",
};

}  // namespace

void ProbeWorker() {
  while (probeRun.load()) {
    probeActive.store(1);
    const PollResult poll = PollInput(platform::kProbeReadLimitMs);
    if (poll == kPollDeviceLost) break;
    if (poll == kPollNoReport) continue;  // the read itself waited
    probeAccelX.store(remoteInput.accelX);
    platform::SleepMilliseconds(kWorkerPauseMs);
  }
  probeActive.store(0);
}

int ProbeLink() {
  remoteInput.accelX = 0;
  probeAccelX.store(0);
  probeRun.store(1);
  probeThread = platform::StartThread(ProbeWorker);
  platform::WaitMilliseconds(kProbeMs);
  probeRun.store(0);
  return probeAccelX.load() != 0 ? 1 : 0;
}

void StopProbeWorker() {
  if (probeThread == platform::kNoThread) return;
  platform::JoinThread(probeThread);
  probeThread = platform::kNoThread;
}

void PrintBanner() {
  for (const char* line : kBanner) platform::ConsoleWrite(line);
}

void ConfigureRemote() {
  SetLeds(kLedOne);
  SendCameraBlock();
  platform::WaitMilliseconds(kConfigPauseMs);
  SendCameraBlock();
  platform::WaitMilliseconds(kConfigPauseMs);
  SendCameraBlock();
  SendCameraSettings();
}

namespace {

// The first model if one is there that no other tool holds, else the newer
// one; kHidBusy when the only remotes there are held by another tool, -1 when
// there is none.
HidHandle OpenRemote() {
  const HidHandle first = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  if (first >= 0) return first;
  const HidHandle newer = platform::OpenHidHandle(kRemoteVendor, kRemoteProductNewer);
  if (newer >= 0) return newer;
  if (first == platform::kHidBusy || newer == platform::kHidBusy) return platform::kHidBusy;
  return -1;
}

int RunWithDesktop() {
  hidHandle = OpenRemote();
  if (hidHandle == platform::kHidBusy) {
    // Another tool drives that remote: nothing is sent to it, nothing closed.
    platform::ShowMessage(kMessageRemoteBusy);
    return kExitNoData;
  }
  if (hidHandle == -1) {
    platform::ShowMessage("Wii-Remote not found.");
    return kExitNotFound;
  }
  SelectButtonsAccelMode();
  if (!ProbeLink()) {
    platform::ShowMessage("Wii-Remote cannot open.");
    StopProbeWorker();
    platform::CloseHidHandle(hidHandle);
    return kExitNoData;
  }
  PrintBanner();
  ConfigureRemote();
  // The worker left its loop long before the set-up's 400 ms were over.
  StopProbeWorker();
  const LoopEnd end = RunControlLoop();
  if (end == kLoopDeviceLost) platform::ConsoleWrite("Wii-Remote disconnected.\n");
  SelectButtonsMode();
  platform::CloseHidHandle(hidHandle);
  if (end == kLoopDeviceLost) return kExitNoData;
  if (end == kLoopDesktopLost) return kExitNoDesktop;
  return kExitOk;
}

}  // namespace

int RunProgram() {
  if (!platform::StartPlatform()) return kExitNoDesktop;
  const int code = RunWithDesktop();
  platform::StopPlatform();
  return code;
}
