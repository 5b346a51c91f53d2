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

// What ends a read without a time limit (see platform.h): a console control
// event (Ctrl+C, Ctrl+Break, the console closing) and a key press in the
// console. WaitEndHandles puts the handles that the system signals for them
// into handles (room for 2) and returns how many: the event that the control
// handler sets, and the console input when the process has a console.
int WaitEndHandles(HANDLE* handles);
// Whether such a read must end now: a control event not yet read as Esc, or
// a key press at the head of the console input. Records at the head that are
// not key presses with a character (focus, mouse, window size, key releases,
// Shift or an arrow alone) are taken out and dropped, so that they do not keep
// the console input signalled; arrows and the like are keys the loop drops
// anyway.
bool WaitEndReady();

// Waits at most limitMs (INFINITE: no limit) for the overlapped transfer ov
// on file; when endable, WaitEndHandles and WaitEndReady end the wait too.
// Returns whether the transfer finished by itself. Otherwise it has been
// cancelled; GetOverlappedResult then tells whether it still brought data.
bool WaitForTransfer(HANDLE file, OVERLAPPED* ov, DWORD limitMs, bool endable);

}  // namespace windows_backend
}  // namespace platform
