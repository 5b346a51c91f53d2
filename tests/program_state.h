// Puts the program's state and the test platform back to their start, for
// tests and fuzz targets that run the program again and again in one process.
#pragma once

#include <cstring>

#include "app/program.h"
#include "remote/remote.h"
#include "tests/fake/fake_platform.h"

inline void ResetProgramState() {
  fake::Reset();
  hidHandle = 0;
  std::memset(outputReport, 0, sizeof outputReport);
  std::memset(inputReport, 0, sizeof inputReport);
  writeResultSlot = 0;
  readResultSlot = 0;
  std::memset(&remoteInput, 0, sizeof remoteInput);
  probeRun.store(0);
  probeActive.store(0);
  probeAccelX.store(0);
  probeThread = platform::kNoThread;
}
