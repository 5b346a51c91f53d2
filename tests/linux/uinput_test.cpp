// The Wayland side without a device or a compositor: the events the virtual
// pointer writes (read back from a pipe in place of /dev/uinput), the choice
// of desktop, and the desktop made of several monitors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/linux_backend.h"
#include "platform/platform.h"

namespace {

using linuxbackend::DesktopBox;

// An event as "TYPE CODE VALUE" with the kernel's names, frames ended by "SYN".
std::string Describe(const input_event& e) {
  if (e.type == EV_SYN && e.code == SYN_REPORT && e.value == 0) return "SYN";
  std::string code;
  switch (e.type) {
    case EV_ABS: code = e.code == ABS_X ? "ABS_X" : e.code == ABS_Y ? "ABS_Y" : "ABS?"; break;
    case EV_KEY:
      code = e.code == BTN_LEFT ? "BTN_LEFT" : e.code == BTN_RIGHT ? "BTN_RIGHT" : "BTN?";
      break;
    case EV_REL:
      code = e.code == REL_WHEEL ? "REL_WHEEL"
             : e.code == REL_WHEEL_HI_RES ? "REL_WHEEL_HI_RES" : "REL?";
      break;
    default: code = "type " + std::to_string(e.type);
  }
  return code + " " + std::to_string(e.value);
}

class UinputEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe2(absPipe, O_NONBLOCK), 0);
    ASSERT_EQ(pipe2(relPipe, O_NONBLOCK), 0);
    pointer = linuxbackend::NewUinputPointer(absPipe[1], relPipe[1], kBox);
  }
  void TearDown() override {
    for (int fd : {absPipe[0], absPipe[1], relPipe[0], relPipe[1]}) close(fd);
  }

  static std::vector<std::string> Read(int fd) {
    std::vector<std::string> out;
    input_event e;
    while (read(fd, &e, sizeof e) == static_cast<ssize_t>(sizeof e)) out.push_back(Describe(e));
    return out;
  }
  std::vector<std::string> Pointer() { return Read(absPipe[0]); }
  std::vector<std::string> Wheel() { return Read(relPipe[0]); }

  // 1024 x 768: every pixel is 64 values wide across and 85 1/3 down.
  const DesktopBox kBox = {0, 0, 1024, 768};
  int absPipe[2] = {-1, -1};
  int relPipe[2] = {-1, -1};
  linuxbackend::UinputPointer pointer;
};

using Events = std::vector<std::string>;

TEST_F(UinputEvents, PlacementsWriteTheAxesThatChange) {
  struct Step {
    int x, y;
    Events events;
    int cursorX, cursorY;  // what GetCursorPos then answers
  };
  const Step steps[] = {
      // The first placement carries both axes.
      {100, 200, {"ABS_X 6400", "ABS_Y 17067", "SYN"}, 100, 200},
      // The same spot again: nothing (the kernel would drop it anyway).
      {100, 200, {}, 100, 200},
      {101, 200, {"ABS_X 6464", "SYN"}, 101, 200},
      {101, 199, {"ABS_Y 16982", "SYN"}, 101, 199},
      // Off the desktop: kept on it, last pixel of each axis.
      {5000, -3, {"ABS_X 65472", "ABS_Y 0", "SYN"}, 1023, 0},
      {INT_MAX, INT_MIN, {}, 1023, 0},
      {-1, 9999, {"ABS_X 0", "ABS_Y 65451", "SYN"}, 0, 767},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "(" << s.x << ", " << s.y << ")");
    linuxbackend::PlaceCursor(&pointer, s.x, s.y);
    EXPECT_EQ(Pointer(), s.events);
    EXPECT_EQ(pointer.cursorX, s.cursorX);
    EXPECT_EQ(pointer.cursorY, s.cursorY);
  }
  EXPECT_EQ(Wheel(), Events{});
}

TEST_F(UinputEvents, BeforeAnyPlacementTheCursorIsTakenToBeInTheMiddle) {
  // The D-pad stage at rest sets the cursor where it read it: nothing goes
  // out, so a cursor somewhere else stays there.
  EXPECT_EQ(pointer.cursorX, 512);
  EXPECT_EQ(pointer.cursorY, 384);
  linuxbackend::PlaceCursor(&pointer, 512, 384);
  EXPECT_EQ(Pointer(), Events{});
  // The first move from there writes both axes, also the unchanged one: the
  // kernel starts them at a value no placement uses.
  linuxbackend::PlaceCursor(&pointer, 513, 384);
  EXPECT_EQ(Pointer(), (Events{"ABS_X 32832", "ABS_Y 32768", "SYN"}));
}

TEST_F(UinputEvents, ALayoutChangeMovesTheRangeAndNoSizeKeepsTheLast) {
  linuxbackend::PlaceCursor(&pointer, 100, 200);
  EXPECT_EQ(Pointer(), (Events{"ABS_X 6400", "ABS_Y 17067", "SYN"}));
  // A second monitor of 1024 x 768 right of the first: the same pixel is
  // half as far along x, and y stays.
  linuxbackend::SetPointerBox(&pointer, DesktopBox{0, 0, 2048, 768});
  linuxbackend::PlaceCursor(&pointer, 101, 200);
  EXPECT_EQ(Pointer(), (Events{"ABS_X 3232", "SYN"}));
  // Every monitor gone: the last layout stays, and so does the clamping.
  linuxbackend::SetPointerBox(&pointer, DesktopBox{0, 0, 0, 0});
  linuxbackend::PlaceCursor(&pointer, 5000, 200);
  EXPECT_EQ(Pointer(), (Events{"ABS_X 65504", "SYN"}));
  EXPECT_EQ(pointer.cursorX, 2047);
  // A layout that starts left of zero (a monitor placed to the left).
  linuxbackend::SetPointerBox(&pointer, DesktopBox{-1024, 0, 2048, 768});
  linuxbackend::PlaceCursor(&pointer, -1024, 200);
  EXPECT_EQ(Pointer(), (Events{"ABS_X 0", "SYN"}));
}

TEST_F(UinputEvents, ClicksComeFromThePointerDevice) {
  linuxbackend::SendMouseEvent(&pointer, platform::kMouseLeftDown, 0);
  linuxbackend::SendMouseEvent(&pointer, platform::kMouseLeftUp, 0);
  linuxbackend::SendMouseEvent(&pointer, platform::kMouseRightDown, 0);
  linuxbackend::SendMouseEvent(&pointer, platform::kMouseRightUp, 0);
  EXPECT_EQ(Pointer(), (Events{"BTN_LEFT 1", "SYN", "BTN_LEFT 0", "SYN", "BTN_RIGHT 1", "SYN",
                               "BTN_RIGHT 0", "SYN"}));
  // Several flags at once: one frame.
  linuxbackend::SendMouseEvent(&pointer, platform::kMouseLeftDown | platform::kMouseRightDown, 0);
  EXPECT_EQ(Pointer(), (Events{"BTN_LEFT 1", "BTN_RIGHT 1", "SYN"}));
  EXPECT_EQ(Wheel(), Events{});
}

TEST_F(UinputEvents, WheelSendsHighResolutionAndWholeNotches) {
  struct Case {
    const char* name;
    std::vector<int32_t> amounts;
    Events events;
  };
  const Case cases[] = {
      {"One held: a notch on every second event",
       {64, 64, 64, 64},
       {"REL_WHEEL_HI_RES 64", "SYN", "REL_WHEEL_HI_RES 64", "REL_WHEEL 1", "SYN",
        "REL_WHEEL_HI_RES 64", "SYN", "REL_WHEEL_HI_RES 64", "REL_WHEEL 1", "SYN"}},
      {"Two held", {-64, -64}, {"REL_WHEEL_HI_RES -64", "SYN", "REL_WHEEL_HI_RES -64",
                                "REL_WHEEL -1", "SYN"}},
      {"turning back starts the count afresh",
       {64, -64, -64},
       {"REL_WHEEL_HI_RES 64", "SYN", "REL_WHEEL_HI_RES -64", "SYN", "REL_WHEEL_HI_RES -64",
        "REL_WHEEL -1", "SYN"}},
      {"a whole notch at once", {240}, {"REL_WHEEL_HI_RES 240", "REL_WHEEL 2", "SYN"}},
      {"zero sends nothing", {0}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pointer.wheelUnits = 0;
    for (int32_t amount : c.amounts) {
      linuxbackend::SendMouseEvent(&pointer, platform::kMouseWheel, amount);
    }
    EXPECT_EQ(Wheel(), c.events);
    EXPECT_EQ(Pointer(), Events{});
  }
}

TEST(AbsValue, EveryPixelGetsTheFirstValueThatMapsBackToIt) {
  // The compositor turns value v into v * size / 65536 and takes the pixel
  // that point lies in: each pixel's value must land in it, and kAbsMax (the
  // start value of the axes) is never used.
  for (int size : {1, 2, 3, 768, 1024, 1366, 1920, 3840 + 1920, 7680, 32768}) {
    SCOPED_TRACE(size);
    int previous = -1;
    for (int pixel = 0; pixel < size; ++pixel) {
      const int v = linuxbackend::AbsValue(pixel, size);
      ASSERT_GT(v, previous) << pixel;
      ASSERT_LT(v, linuxbackend::kAbsMax) << pixel;
      ASSERT_EQ(static_cast<long long>(v) * size / 65536, pixel) << pixel;
      ASSERT_TRUE(v == 0 || static_cast<long long>(v - 1) * size / 65536 == pixel - 1) << pixel;
      previous = v;
    }
  }
}

TEST(ChooseDesktop, TheSessionPicksTheDesktopWithoutFallingBack) {
  using linuxbackend::kDesktopNone;
  using linuxbackend::kDesktopUinput;
  using linuxbackend::kDesktopX11;
  struct Case {
    const char* wayland;
    const char* display;
    int uinputError;
    linuxbackend::DesktopKind kind;
    const char* message;  // a part of the one line
  };
  const Case cases[] = {
      {"wayland-0", ":0", 0, kDesktopUinput, ""},
      {"wayland-0", nullptr, 0, kDesktopUinput, ""},
      // A Wayland session never falls back to X11 (XWayland).
      {"wayland-0", ":0", EACCES, kDesktopNone, "install the tool's udev rule 60-trevanquill-uinput.rules"},
      {"wayland-0", nullptr, EPERM, kDesktopNone, "/dev/uinput may not be opened (Operation not permitted)"},
      {"wayland-0", ":0", ENOENT, kDesktopNone, "load the kernel's uinput module with 'sudo modprobe uinput'"},
      {"wayland-0", ":0", ENODEV, kDesktopNone, "there is no /dev/uinput (No such device)"},
      {"wayland-0", ":0", EMFILE, kDesktopNone, "/dev/uinput cannot be opened (Too many open files)"},
      // An X session: uinput is not looked at.
      {nullptr, ":0", 0, kDesktopX11, ""},
      {nullptr, ":0", EACCES, kDesktopX11, ""},
      {"", ":1", ENOENT, kDesktopX11, ""},
      // Neither.
      {nullptr, nullptr, 0, kDesktopNone, "neither WAYLAND_DISPLAY nor DISPLAY is set"},
      {"", "", EACCES, kDesktopNone, "neither WAYLAND_DISPLAY nor DISPLAY is set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.wayland ? c.wayland : "(unset)") << " "
                                    << (c.display ? c.display : "(unset)") << " "
                                    << std::strerror(c.uinputError));
    const linuxbackend::DesktopChoice got =
        linuxbackend::ChooseDesktop(c.wayland, c.display, c.uinputError);
    EXPECT_EQ(got.kind, c.kind);
    const std::string message = got.message;
    if (c.kind == kDesktopNone) {
      EXPECT_NE(message.find(c.message), std::string::npos) << message;
      // One line, the tool's name first.
      EXPECT_EQ(message.rfind("trevanquill: ", 0), 0u) << message;
      EXPECT_EQ(message.find('\n'), message.size() - 1) << message;
    } else {
      EXPECT_EQ(message, "");
    }
  }
}

TEST(BoundingBox, SeveralMonitorsMakeOneDesktop) {
  struct Case {
    const char* name;
    std::vector<DesktopBox> outputs;
    DesktopBox box;
  };
  const Case cases[] = {
      {"one monitor", {{0, 0, 1920, 1080}}, {0, 0, 1920, 1080}},
      {"side by side, different heights",
       {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}}, {0, 0, 3200, 1080}},
      {"one left of the origin and higher",
       {{0, 0, 1920, 1080}, {-1280, -200, 1280, 1024}}, {-1280, -200, 3200, 1280}},
      {"stacked, a scaled monitor in logical pixels",
       {{0, 0, 1280, 720}, {0, 720, 1920, 1080}}, {0, 0, 1920, 1800}},
      {"a monitor without a size is left out",
       {{0, 0, 0, 0}, {100, 50, 800, 600}}, {100, 50, 800, 600}},
      {"no monitor", {}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DesktopBox got =
        linuxbackend::BoundingBox(c.outputs.data(), static_cast<int>(c.outputs.size()));
    EXPECT_EQ(got.x, c.box.x);
    EXPECT_EQ(got.y, c.box.y);
    EXPECT_EQ(got.width, c.box.width);
    EXPECT_EQ(got.height, c.box.height);
  }
}

}  // namespace
