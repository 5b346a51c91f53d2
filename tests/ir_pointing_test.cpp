// The infrared pointing stage: where the cursor goes for the points the
// camera sees, and what the console says about tracking.
#include <gmock/gmock.h>

#include "pointer/control_loop.h"
#include "pointer/ir_pointing.h"
#include "tests/support.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

constexpr int kEmpty = 1023;
constexpr int kNone = 0x7FFFFFFF;  // no cursor placement expected

struct IrCase {
  const char* name;
  IrPointingState before;
  int x1, y1, x2, y2;
  fake::Point set;  // kNone: the cursor is left alone
  IrPointingState after;
  const char* console;
};
void PrintTo(const IrCase& c, std::ostream* os) { *os << c.name; }

const IrCase kIrCases[] = {
    {"midpoint mirrored in x, seeded at once", {1, 0, 0}, 500, 300, 524, 340,
     {512, -64}, {1, 512, -64}, ""},
    {"far left of the camera is far right of the screen", {1, 0, 0}, 0, 384, 0, 384,
     {2048, 128}, {1, 2048, 128}, ""},
    {"camera centre is pixel (512, 512)", {1, 0, 0}, 500, 500, 524, 524,
     {512, 512}, {1, 512, 512}, ""},
    {"midpoint truncates", {1, 0, 0}, 501, 301, 502, 302,
     {512 + 3 * (512 - 501), 512 + 3 * (301 - 512)}, {1, 545, -121}, ""},
    // target (107, 98) from (100, 100): x stops short, y reaches it
    {"smoothing truncates toward the larger target", {1, 100, 100}, 647, 374, 647, 374,
     {101, 99}, {1, 101, 99}, ""},
    // target (-52, -124) from (-11, -11): toward zero, not down
    {"smoothing of negative positions truncates toward zero", {1, -11, -11}, 700, 300, 700, 300,
     {-17, -29}, {1, -17, -29}, ""},
    {"a position of exactly (0, 0) reseeds", {1, 0, 0}, 647, 374, 647, 374,
     {107, 98}, {1, 107, 98}, ""},
    {"only x is tested for an empty slot", {1, 50, 60}, 512, 1023, 512, 1023,
     {(250 + 512) / 6, (300 + 512 + 3 * 511) / 6}, {1, 127, 390}, ""},
    {"first untracked pass announces the loss", {-1, 0, 0}, 100, 100, kEmpty, kEmpty,
     {kNone, 0}, {0, 0, 0}, "IR-Track NG\n"},
    {"one point in view is no tracking", {1, 300, 400}, 100, 100, kEmpty, 200,
     {kNone, 0}, {0, 300, 400}, "IR-Track NG\n"},
    {"the other slot empty likewise", {1, 300, 400}, kEmpty, 100, 100, 200,
     {kNone, 0}, {0, 300, 400}, "IR-Track NG\n"},
    {"a loss is announced once", {0, 300, 400}, kEmpty, kEmpty, kEmpty, kEmpty,
     {kNone, 0}, {0, 300, 400}, ""},
    {"regained after a loss", {0, 300, 300}, 512, 512, 512, 512,
     {(1500 + 512) / 6, (1500 + 512) / 6}, {1, 335, 335}, "IR-Track Ok\n"},
    {"first tracked pass says nothing", {-1, 0, 0}, 512, 512, 512, 512,
     {512, 512}, {-1, 512, 512}, ""},
};

class IrStage : public TestPlatform, public ::testing::WithParamInterface<IrCase> {};

TEST_P(IrStage, PlacesTheCursorAndAnnounces) {
  const IrCase& c = GetParam();
  remoteInput.ir1X = c.x1;
  remoteInput.ir1Y = c.y1;
  remoteInput.ir2X = c.x2;
  remoteInput.ir2Y = c.y2;
  remoteInput.irSeen = 1;
  IrPointingState s = c.before;
  UpdateIrPointing(s);
  if (c.set.x == kNone) {
    EXPECT_THAT(desktop.cursorSets, IsEmpty());
  } else {
    EXPECT_THAT(desktop.cursorSets, ElementsAre(c.set));
  }
  EXPECT_EQ(s.irTrackState, c.after.irTrackState);
  EXPECT_EQ(s.prevX, c.after.prevX);
  EXPECT_EQ(s.prevY, c.after.prevY);
  EXPECT_EQ(desktop.console, c.console);
  EXPECT_EQ(desktop.cursorReads, 0) << "the stage never reads the cursor";
}

INSTANTIATE_TEST_SUITE_P(Cases, IrStage, ::testing::ValuesIn(kIrCases), CaseName());

class IrStageRuns : public TestPlatform {};

TEST_F(IrStageRuns, NothingHappensBeforeTheFirstReportWithPoints) {
  // The point fields are still 0, which would read as two points at the
  // camera's corner and throw the cursor to (2048, -1024).
  IrPointingState s = InitialIrPointingState();
  for (int i = 0; i < 3; ++i) UpdateIrPointing(s);
  EXPECT_THAT(desktop.cursorSets, IsEmpty());
  EXPECT_EQ(desktop.console, "");
  EXPECT_EQ(s.irTrackState, -1);
  EXPECT_EQ(s.prevX, 0);
  EXPECT_EQ(s.prevY, 0);
}

TEST_F(IrStageRuns, LostAndRegainedGlidesFromTheLastPosition) {
  IrPointingState s = InitialIrPointingState();
  remoteInput.irSeen = 1;
  auto points = [](int x, int y) {
    remoteInput.ir1X = x - 10;
    remoteInput.ir2X = x + 10;
    remoteInput.ir1Y = remoteInput.ir2Y = y;
  };
  points(512, 512);  // (512, 512)
  UpdateIrPointing(s);
  points(kEmpty + 10, 512);  // both slots empty
  UpdateIrPointing(s);
  UpdateIrPointing(s);
  points(412, 612);  // target (812, 812)
  UpdateIrPointing(s);
  UpdateIrPointing(s);
  EXPECT_EQ(desktop.console, "IR-Track NG\nIR-Track Ok\n");
  EXPECT_THAT(desktop.cursorSets,
              ElementsAre(fake::Point{512, 512}, fake::Point{562, 562},
                          fake::Point{603, 603}));
}

}  // namespace
