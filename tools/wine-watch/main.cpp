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
//                     system's input, as a low-level mouse hook sees them, one
//                     line each: "left-down", "left-up", "right-down",
//                     "right-up", "wheel N" (N signed, 120 a notch), with
//                     " (not injected)" after input that no program made
//                     through SendInput. Prints "ready" once the hook is in
//                     place, and runs until it is ended.
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

LRESULT CALLBACK MouseHook(int code, WPARAM message, LPARAM param) {
  if (code == HC_ACTION) {
    const MSLLHOOKSTRUCT* m = reinterpret_cast<const MSLLHOOKSTRUCT*>(param);
    const char* how = (m->flags & LLMHF_INJECTED) ? "" : " (not injected)";
    switch (message) {
      case WM_LBUTTONDOWN: std::printf("left-down%s\n", how); break;
      case WM_LBUTTONUP: std::printf("left-up%s\n", how); break;
      case WM_RBUTTONDOWN: std::printf("right-down%s\n", how); break;
      case WM_RBUTTONUP: std::printf("right-up%s\n", how); break;
      case WM_MOUSEWHEEL:
        std::printf("wheel %d%s\n", static_cast<short>(HIWORD(m->mouseData)), how);
        break;
      default: break;  // moves: the X server shows where the cursor went
    }
    std::fflush(stdout);
  }
  return CallNextHookEx(nullptr, code, message, param);
}

int WatchMouse() {
  HHOOK hook = SetWindowsHookExA(WH_MOUSE_LL, MouseHook, GetModuleHandleA(nullptr), 0);
  if (!hook) {
    std::printf("no hook: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  // The hook is called in this thread, through its message loop.
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  UnhookWindowsHookEx(hook);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "box") == 0) return EndMessageBox();
  if (argc == 2 && std::strcmp(argv[1], "mouse") == 0) return WatchMouse();
  std::fprintf(stderr, "usage: wine-watch box|mouse\n");
  return 2;
}
