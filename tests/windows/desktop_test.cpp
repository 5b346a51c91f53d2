// The Windows backend's cursor and synthetic mouse input against a real
// desktop (in CI: Wine on an X server under Xvfb).
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"

namespace {

// Windows gives a process its desktop from the start. Wine makes the desktop
// window, whose rectangle keeps the cursor on the screen, only when a process
// first asks for it, and closes it a second after the last other process on
// it has ended (as between two suites on a loaded machine). Until it is made
// again the cursor is kept in an empty rectangle: every SetCursorPos lands on
// (0, 0) and both calls still return TRUE. Every test here asks for the
// desktop first, as a program with a window does before it moves the cursor.
class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(GetDesktopWindow(), nullptr);
    RECT clip;
    ASSERT_TRUE(GetClipCursor(&clip));
    ASSERT_EQ(clip.right - clip.left, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    ASSERT_EQ(clip.bottom - clip.top, GetSystemMetrics(SM_CYVIRTUALSCREEN));
  }
};

using Cursor = Desktop;

TEST_F(Cursor, SetThenGetGivesThePosition) {
  for (POINT p : {POINT{10, 20}, POINT{200, 150}, POINT{0, 0}}) {
    platform::SetCursorPos(p.x, p.y);
    int x = -1, y = -1;
    platform::GetCursorPos(&x, &y);
    EXPECT_EQ(x, p.x);
    EXPECT_EQ(y, p.y);
  }
}

TEST_F(Cursor, KeptOnTheScreen) {
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  ASSERT_GT(width, 0);
  ASSERT_GT(height, 0);
  int x = 0, y = 0;
  platform::SetCursorPos(-5000, 100000);
  platform::GetCursorPos(&x, &y);
  EXPECT_EQ(x, left);
  EXPECT_EQ(y, top + height - 1);
  platform::SetCursorPos(100000, -5000);
  platform::GetCursorPos(&x, &y);
  EXPECT_EQ(x, left + width - 1);
  EXPECT_EQ(y, top);
}

// A window under the cursor that records the mouse messages it gets.
struct Seen {
  UINT message;
  int wheel;
};
std::vector<Seen> seen;

LRESULT CALLBACK RecordMouse(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      seen.push_back(Seen{message, 0});
      return 0;
    case WM_MOUSEWHEEL:
      seen.push_back(Seen{message, GET_WHEEL_DELTA_WPARAM(w)});
      return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

class MouseInput : public Desktop {
 protected:
  void SetUp() override {
    Desktop::SetUp();
    if (HasFatalFailure()) return;
    seen.clear();
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = RecordMouse;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "trevanquill_mouse_test";
    RegisterClassA(&wc);
    window = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "mouse test",
                             WS_POPUP | WS_VISIBLE, 50, 50, 300, 300, nullptr,
                             nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    SetForegroundWindow(window);
    SetFocus(window);
    platform::SetCursorPos(200, 200);
    Pump(300);
    seen.clear();
  }
  void TearDown() override {
    if (window) DestroyWindow(window);
  }
  // Delivers what arrives within ms, or until count messages were seen.
  void Pump(int ms, size_t count = 0) {
    const DWORD end = GetTickCount() + ms;
    while (GetTickCount() < end && (count == 0 || seen.size() < count)) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(5);
    }
  }
  HWND window = nullptr;
};

TEST_F(MouseInput, ButtonsAndWheelArriveAsTheLoopSendsThem) {
  platform::MouseEvent(platform::kMouseLeftDown, 0);
  platform::MouseEvent(platform::kMouseLeftUp, 0);
  platform::MouseEvent(platform::kMouseRightDown, 0);
  platform::MouseEvent(platform::kMouseRightUp, 0);
  // The wheel's 64 units go as they are, up and down.
  platform::MouseEvent(platform::kMouseWheel, 64);
  platform::MouseEvent(platform::kMouseWheel, -64);
  Pump(3000, 6);
  ASSERT_EQ(seen.size(), 6u);
  const UINT expected[] = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN,
                           WM_RBUTTONUP, WM_MOUSEWHEEL, WM_MOUSEWHEEL};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(seen[i].message, expected[i]) << i;
  EXPECT_EQ(seen[4].wheel, 64);
  EXPECT_EQ(seen[5].wheel, -64);
}

}  // namespace
