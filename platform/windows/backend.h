// What the Windows backend offers its own tests beyond platform/platform.h.
#pragma once

#include <windows.h>

#include <cstdint>

namespace platform {
namespace windows_backend {

// Looks through the system's HID interfaces for a device with these vendor
// and product numbers and puts its interface path in path. False when there
// is none.
bool FindHidDevice(uint16_t vendor, uint16_t product, char* path, int pathSize);

// The console control handler that StartPlatform installs: Ctrl+C, Ctrl+Break
// and the console's closing end the run the way Esc does. For a closing
// console it returns only once StopPlatform has run (or the system's grace
// time is nearly over), because the system ends the process when it returns.
BOOL WINAPI ConsoleControlHandler(DWORD event);

}  // namespace windows_backend
}  // namespace platform
