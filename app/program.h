// The tool's life from start to end: open the remote, probe it, print the
// banner, set the remote up, run the control loop, put the remote back and
// close it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// Exit codes of the program.
constexpr int kExitOk = 0;             // ended by Home or Esc
constexpr int kExitNotFound = 1;       // no remote
constexpr int kExitNoData = 2;         // the remote sent no data, went away, or
                                       // another tool drives it
constexpr int kExitNoDesktop = 3;      // the desktop could not be reached, or went away

// The remote's HID vendor and product numbers: the first model, and the one
// sold since about 2010, which works the same for everything the tool uses.
// The first model is opened when it is there, the newer one when it is not.
constexpr uint16_t kRemoteVendor = 0x057E;
constexpr uint16_t kRemoteProduct = 0x0306;
constexpr uint16_t kRemoteProductNewer = 0x0330;

// The message of a start on a remote that another trevanquill already drives.
constexpr const char* kMessageRemoteBusy =
    "Wii-Remote already in use: another trevanquill drives it.";

// Probe state shared between the main thread and the probe worker.
extern std::atomic<uint8_t> probeRun;      // written by the main thread only
extern std::atomic<uint8_t> probeActive;   // written by the worker only
extern std::atomic<uint8_t> probeAccelX;   // the worker's last decoded accelerometer X byte
extern platform::ThreadHandle probeThread;

// 1 when a report with a non-zero accelerometer X byte was decoded within the
// probe time, else 0. The worker may still be running when it returns.
int ProbeLink();
void ProbeWorker();
// Makes sure the worker has ended: waits for it to leave its loop.
void StopProbeWorker();

// The banner and usage text, and the remote's set-up.
void PrintBanner();
void ConfigureRemote();

// The whole program; returns the exit code.
int RunProgram();
