// wine-watch: a Windows helper of the VM's Wine cases (tests/vm/cases/
// 50-wine.sh), run under the same Wine beside the program, for what stays
// inside Wine and never reaches the X server:
//
//   wine-watch box    waits up to 60 s for a message box (a visible top-level
//                     dialog window with an OK button), prints
//                     "box: CAPTION | TEXT" (TEXT: its first static control
//                     with text), ends it as its OK button does, exits 0;
//                     prints "no box" and exits 1 when none came.
//   wine-watch mouse  prints the clicks and wheel turns that reach the
//                     system's input, as a raw input listener sees them, one
//                     line each: "left-down", "left-up", "right-down",
//                     "right-up", "wheel N" (N signed, 120 a notch). Prints
//                     "ready" once it listens, and runs until it is ended.
//
// The listener takes raw input (WM_INPUT, RIDEV_INPUTSINK), which the system
// posts to it: a program's SendInput does not wait for it. A low-level mouse
// hook (WH_MOUSE_LL) would see the same input, but the system hands each
// event to the hook's thread and makes SendInput wait for its answer, so
// every click and wheel turn of the program would wait for this process.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kBoxPolls = 600;
constexpr DWORD kBoxPollMs = 100;
constexpr int kTextSize = 512;

// The dialog class of the system's message box.
constexpr char kDialogClass[] = "#32770";

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  char name[32];
  if (IsWindowVisible(window) && GetClassNameA(window, name, sizeof name) &&
      std::strcmp(name, kDialogClass) == 0 && GetDlgItem(window, IDOK)) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FirstStaticText(HWND child, LPARAM param) {
  char* text = reinterpret_cast<char*>(param);
  char name[32];
  if (GetClassNameA(child, name, sizeof name) && lstrcmpiA(name, "Static") == 0 &&
      GetWindowTextA(child, text, kTextSize) > 0) {
    return FALSE;
  }
  text[0] = '\0';
  return TRUE;
}

int EndMessageBox() {
  for (int poll = 0; poll < kBoxPolls; ++poll) {
    HWND box = nullptr;
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
    if (box) {
      char caption[kTextSize] = "";
      char text[kTextSize] = "";
      GetWindowTextA(box, caption, sizeof caption);
      EnumChildWindows(box, FirstStaticText, reinterpret_cast<LPARAM>(text));
      std::printf("box: %s | %s\n", caption, text);
      std::fflush(stdout);
      HWND ok = GetDlgItem(box, IDOK);
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
      return 0;
    }
    Sleep(kBoxPollMs);
  }
  std::printf("no box\n");
  return 1;
}

// The raw input's button bits and the lines they give, in the order in which
// one report's bits are printed.
struct ButtonLine {
  USHORT flag;
  const char* line;
};
constexpr ButtonLine kButtonLines[] = {
    {RI_MOUSE_LEFT_BUTTON_DOWN, "left-down"},
    {RI_MOUSE_LEFT_BUTTON_UP, "left-up"},
    {RI_MOUSE_RIGHT_BUTTON_DOWN, "right-down"},
    {RI_MOUSE_RIGHT_BUTTON_UP, "right-up"},
};

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INPUT) {
    RAWINPUT input;
    UINT size = sizeof input;
    if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lparam), RID_INPUT, &input, &size,
                        sizeof(RAWINPUTHEADER)) != static_cast<UINT>(-1) &&
        input.header.dwType == RIM_TYPEMOUSE) {
      const USHORT flags = input.data.mouse.usButtonFlags;
      for (const ButtonLine& b : kButtonLines) {
        if (flags & b.flag) std::printf("%s\n", b.line);
      }
      if (flags & RI_MOUSE_WHEEL) {
        std::printf("wheel %d\n", static_cast<short>(input.data.mouse.usButtonData));
      }
      // Moves: the X server shows where the cursor went.
      std::fflush(stdout);
    }
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

int WatchMouse() {
  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.lpfnWndProc = ListenerProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "wine-watch";
  // A message-only window: nothing on the screen, but it takes raw input.
  HWND window = RegisterClassA(&windowClass)
                    ? CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0,
                                      HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr)
                    : nullptr;
  if (!window) {
    std::printf("no window: error %lu\n", GetLastError());
    return 1;
  }
  // The generic desktop page's mouse, also while another window has the focus.
  RAWINPUTDEVICE device = {0x01, 0x02, RIDEV_INPUTSINK, window};
  if (!RegisterRawInputDevices(&device, 1, sizeof device)) {
    std::printf("no raw input: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "box") == 0) return EndMessageBox();
  if (argc == 2 && std::strcmp(argv[1], "mouse") == 0) return WatchMouse();
  std::fprintf(stderr, "usage: wine-watch box|mouse\n");
  return 2;
}
