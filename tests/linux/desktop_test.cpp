// The X11 layer against a real X server (Xvfb in CI): the cursor as another
// client sees it, clicks and wheel notches as XInput2 raw events.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "platform/linux/linux_backend.h"
#include "platform/platform.h"
#include "x_observer.h"

using xobserver::Event;
using xobserver::Motion;
using xobserver::Press;
using xobserver::Release;

namespace {

constexpr int kWaitMs = 2000;

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') {
      GTEST_SKIP() << "DISPLAY is not set: these tests need an X server (CI starts Xvfb)";
    }
    ASSERT_TRUE(observer.Open()) << observer.error();
    ASSERT_TRUE(linuxbackend::OpenDesktop());
    w = observer.width();
    h = observer.height();
    observer.Warp(w / 3, h / 3);
    observer.Drain();
  }
  void TearDown() override { linuxbackend::CloseDesktop(); }

  // Moves the cursor through the backend to a spot of its own and returns the
  // events the observer saw up to and including the motion there: everything
  // the backend did before arrives ahead of it.
  std::vector<Event> EventsUpToMarker() {
    marker = marker == 7 ? 9 : 7;
    platform::SetCursorPos(marker, marker);
    std::vector<Event> events = observer.CollectUntil(Motion(marker, marker), kWaitMs);
    EXPECT_FALSE(events.empty() || !(events.back() == Motion(marker, marker)))
        << "the marker motion never arrived:" << xobserver::Describe(events);
    if (!events.empty()) events.pop_back();
    return events;
  }

  xobserver::Observer observer;
  int w = 0, h = 0;
  int marker = 7;
};

TEST_F(DesktopTest, CursorSetIsReadBackAndSeenByOtherClients) {
  const int points[][2] = {{0, 0}, {100, 200}, {w - 1, h - 1}, {w / 2, h / 2}, {w - 1, 0}};
  for (const auto& p : points) {
    SCOPED_TRACE(testing::Message() << "(" << p[0] << ", " << p[1] << ")");
    platform::SetCursorPos(p[0], p[1]);
    const auto events = observer.CollectUntil(Motion(p[0], p[1]), kWaitMs);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), Motion(p[0], p[1])) << xobserver::Describe(events);
    int x = -1, y = -1;
    platform::GetCursorPos(&x, &y);
    EXPECT_EQ(x, p[0]);
    EXPECT_EQ(y, p[1]);
    observer.Pointer(&x, &y);
    EXPECT_EQ(x, p[0]);
    EXPECT_EQ(y, p[1]);
  }
}

TEST_F(DesktopTest, AnyIntegerEndsOnTheNearestScreenEdge) {
  struct Case {
    int x, y;
    int wantX, wantY;  // -1: the last pixel of the axis
  };
  // Beyond the 16-bit range: 40000 wraps to -25536 and -40000 to 25536 if
  // sent unclamped, and 99999 / -99999 to -31073 / 31073.
  const Case cases[] = {
      {-1, 10, 0, 10},          {99999, 10, -1, 10},  {10, -1, 10, 0},
      {10, 99999, 10, -1},      {99999, -99999, -1, 0}, {-99999, 99999, 0, -1},
      {40000, 40000, -1, -1},   {-40000, -40000, 0, 0}, {INT_MAX, INT_MIN, -1, 0},
      {32768, 300, -1, 300},    {-32769, 300, 0, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
    const int wantX = c.wantX < 0 ? w - 1 : c.wantX;
    const int wantY = c.wantY < 0 ? h - 1 : c.wantY;
    observer.Warp(w / 2, h / 2);
    platform::SetCursorPos(c.x, c.y);
    const auto events = observer.CollectUntil(Motion(wantX, wantY), kWaitMs);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), Motion(wantX, wantY)) << xobserver::Describe(events);
    int x = -1, y = -1;
    platform::GetCursorPos(&x, &y);
    EXPECT_EQ(x, wantX);
    EXPECT_EQ(y, wantY);
  }
}

TEST_F(DesktopTest, ButtonsPressAndReleaseAsButtonsOneAndThree) {
  platform::MouseEvent(platform::kMouseLeftDown, 0);
  platform::MouseEvent(platform::kMouseLeftUp, 0);
  EXPECT_EQ(EventsUpToMarker(), (std::vector<Event>{Press(1), Release(1)}));

  platform::MouseEvent(platform::kMouseRightDown, 0);
  platform::MouseEvent(platform::kMouseLeftDown, 0);
  platform::MouseEvent(platform::kMouseLeftUp, 0);
  platform::MouseEvent(platform::kMouseRightUp, 0);
  const auto events = EventsUpToMarker();
  EXPECT_EQ(events, (std::vector<Event>{Press(3), Press(1), Release(1), Release(3)}))
      << xobserver::Describe(events);
}

std::vector<Event> Notches(int button, int count) {
  std::vector<Event> events;
  for (int i = 0; i < count; ++i) {
    events.push_back(Press(button));
    events.push_back(Release(button));
  }
  return events;
}

TEST_F(DesktopTest, WheelEventsOf64UnitsBecomeWholeNotches) {
  // One held for 15 reports: 960 units, 8 notches up.
  for (int i = 0; i < 15; ++i) platform::MouseEvent(platform::kMouseWheel, 64);
  auto events = EventsUpToMarker();
  EXPECT_EQ(events, Notches(4, 8)) << xobserver::Describe(events);

  // A single Plus press gives nothing yet, the second one notch down.
  platform::MouseEvent(platform::kMouseWheel, -64);
  EXPECT_EQ(EventsUpToMarker(), std::vector<Event>{});
  platform::MouseEvent(platform::kMouseWheel, -64);
  events = EventsUpToMarker();
  EXPECT_EQ(events, Notches(5, 1)) << xobserver::Describe(events);

  // 72 units left over upward are dropped when the wheel turns down.
  for (int i = 0; i < 3; ++i) platform::MouseEvent(platform::kMouseWheel, 64);
  platform::MouseEvent(platform::kMouseWheel, -64);
  platform::MouseEvent(platform::kMouseWheel, -64);
  events = EventsUpToMarker();
  EXPECT_EQ(events, (std::vector<Event>{Press(4), Release(4), Press(5), Release(5)}))
      << xobserver::Describe(events);
}

TEST_F(DesktopTest, SettingTheSpotJustReadBackSendsNoWarp) {
  // A warp to where the cursor already is still reaches other clients as a
  // motion event; right after a read-back of that spot the backend leaves it out.
  platform::SetCursorPos(50, 60);
  EXPECT_EQ(EventsUpToMarker(), std::vector<Event>{Motion(50, 60)});
  platform::SetCursorPos(50, 60);
  int x, y;
  platform::GetCursorPos(&x, &y);
  platform::SetCursorPos(50, 60);
  EXPECT_EQ(EventsUpToMarker(), std::vector<Event>{Motion(50, 60)});
  // Only the first set after a read-back is left out.
  platform::SetCursorPos(50, 60);
  platform::GetCursorPos(&x, &y);
  platform::SetCursorPos(50, 60);
  platform::SetCursorPos(50, 60);
  EXPECT_EQ(EventsUpToMarker(), (std::vector<Event>{Motion(50, 60), Motion(50, 60)}));
}

TEST_F(DesktopTest, DesktopIsNotLostWhileTheServerRuns) {
  platform::SetCursorPos(5, 5);
  EXPECT_FALSE(platform::DesktopLost());
  int x, y;
  platform::GetCursorPos(&x, &y);
  EXPECT_FALSE(platform::DesktopLost());
}

}  // namespace
