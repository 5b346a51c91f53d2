// The D-pad stage: speed, braking, glide and the dead zone, and how it works
// with the infrared stage in a pass.
#include <gmock/gmock.h>

#include "pointer/control_loop.h"
#include "pointer/dpad_motion.h"
#include "tests/support.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

constexpr uint8_t kUp = kButtonUp, kDown = kButtonDown, kLeft = kButtonLeft,
                  kRight = kButtonRight;

struct Hold {
  uint8_t buttons1;
  int passes;
};

struct DpadCase {
  const char* name;
  std::vector<Hold> holds;
  // Per pass: the move in x and y, and the speeds after it.
  std::vector<int> dx, dy, hSpeed, vSpeed;
};
void PrintTo(const DpadCase& c, std::ostream* os) { *os << c.name; }

std::vector<int> Repeat(std::vector<int> head, int value, int times) {
  head.insert(head.end(), times, value);
  return head;
}

const DpadCase kDpadCases[] = {
    {"right from rest accelerates to 14 pixels a pass",
     {{kRight, 20}},
     Repeat({0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, 14, 5),
     std::vector<int>(20, 0),
     Repeat({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 16, 5),
     std::vector<int>(20, 0)},
    {"up moves toward smaller y",
     {{kUp, 17}},
     std::vector<int>(17, 0),
     Repeat({0, 0, -1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11, -12, -13}, -14, 2),
     std::vector<int>(17, 0),
     Repeat({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 16, 2)},
    {"up and down together is down",
     {{kUp | kDown, 4}},
     {0, 0, 0, 0}, {0, 0, 1, 2}, {0, 0, 0, 0}, {-1, -2, -3, -4}},
    {"left and right together is left",
     {{kLeft | kRight, 4}},
     {0, 0, -1, -2}, {0, 0, 0, 0}, {-1, -2, -3, -4}, {0, 0, 0, 0}},
    {"a short tap stays in the dead zone",
     {{kRight | kUp, 2}, {0, 3}},
     {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {1, 2, 1, 0, 0}, {1, 2, 1, 0, 0}},
    {"diagonal moves both axes",
     {{kRight | kDown, 4}},
     {0, 0, 1, 2}, {0, 0, 1, 2}, {1, 2, 3, 4}, {-1, -2, -3, -4}},
    {"Plus and other bits of the byte are no direction",
     {{kButtonPlus | 0x60, 3}},
     {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
};

class DpadStage : public TestPlatform, public ::testing::WithParamInterface<DpadCase> {
 protected:
  void SetUp() override {
    TestPlatform::SetUp();
    desktop.width = 4000;
    desktop.height = 4000;
    desktop.cursor = fake::Point{2000, 2000};
  }
};

TEST_P(DpadStage, MovesPassByPass) {
  const DpadCase& c = GetParam();
  DpadMotionState s = InitialDpadMotionState();
  std::vector<int> dx, dy, hs, vs;
  for (const Hold& h : c.holds) {
    for (int i = 0; i < h.passes; ++i) {
      remoteInput.buttons1 = h.buttons1;
      const fake::Point before = desktop.cursor;
      UpdateDpadMotion(s);
      dx.push_back(desktop.cursor.x - before.x);
      dy.push_back(desktop.cursor.y - before.y);
      hs.push_back(s.hSpeed);
      vs.push_back(s.vSpeed);
    }
  }
  EXPECT_THAT(dx, ElementsAreArray(c.dx)) << "dx";
  EXPECT_THAT(dy, ElementsAreArray(c.dy)) << "dy";
  EXPECT_THAT(hs, ElementsAreArray(c.hSpeed)) << "hSpeed";
  EXPECT_THAT(vs, ElementsAreArray(c.vSpeed)) << "vSpeed";
  EXPECT_EQ(desktop.cursorReads, static_cast<int>(dx.size()));
  EXPECT_EQ(desktop.cursorSets.size(), dx.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, DpadStage, ::testing::ValuesIn(kDpadCases), CaseName());

class DpadTails : public DpadStage {};

// The sequences that follow a run at full speed.
TEST_F(DpadTails, ReleaseAndReversal) {
  DpadMotionState s{16, 0};
  std::vector<int> speeds, moves;
  auto pass = [&](uint8_t b1) {
    remoteInput.buttons1 = b1;
    const int x = desktop.cursor.x;
    UpdateDpadMotion(s);
    speeds.push_back(s.hSpeed);
    moves.push_back(desktop.cursor.x - x);
  };
  for (int i = 0; i < 5; ++i) pass(0);
  EXPECT_THAT(speeds, ElementsAre(8, 4, 2, 1, 0));
  EXPECT_THAT(moves, ElementsAre(6, 2, 0, 0, 0));

  s = DpadMotionState{16, 0};
  speeds.clear();
  moves.clear();
  for (int i = 0; i < 6; ++i) pass(kLeft);
  EXPECT_THAT(speeds, ElementsAre(4, 1, 0, -1, -2, -3));
  EXPECT_THAT(moves, ElementsAre(2, 0, 0, 0, 0, -1));

  s = DpadMotionState{-3, -6};  // -3 / 4 is 0, -6 / 4 is -1
  remoteInput.buttons1 = kRight | kUp;
  UpdateDpadMotion(s);
  EXPECT_EQ(s.hSpeed, 0);
  EXPECT_EQ(s.vSpeed, -1);
  s = DpadMotionState{-3, 0};  // -3 / 2 is -1
  remoteInput.buttons1 = 0;
  UpdateDpadMotion(s);
  EXPECT_EQ(s.hSpeed, -1);
}

TEST_F(DpadTails, TheCursorIsKeptOnTheScreen) {
  desktop.width = 100;
  desktop.height = 100;
  desktop.cursor = fake::Point{98, 1};
  DpadMotionState s{16, 16};
  remoteInput.buttons1 = kRight | kUp;
  UpdateDpadMotion(s);
  EXPECT_THAT(desktop.cursorSets, ElementsAre(fake::Point{112, -13}));
  EXPECT_EQ(desktop.cursor, (fake::Point{99, 0}));
  UpdateDpadMotion(s);
  EXPECT_EQ(desktop.cursorSets.back(), (fake::Point{113, -14}))
      << "the next pass starts from the kept position";
}

// In a whole pass the infrared placement comes first and the D-pad moves on
// from there; the next tracked pass puts the cursor back.
class StagesInAPass : public TestPlatform {};

TEST_F(StagesInAPass, InfraredPlacementUndoesTheDpadMove) {
  hidHandle = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  for (int i = 0; i < 5; ++i) {
    remote.Sends(Report(0x33).Buttons(kRight, 0).Accel(0x80, 0x80, 0x80)
                     .Point(1, 502, 512).Point(2, 522, 512),  // target (512, 512)
                 10);
  }
  remote.Sends(HomeReport(), 10);
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(desktop.cursorSets,
              ElementsAre(fake::Point{512, 512}, fake::Point{512, 512},    // speed 1
                          fake::Point{512, 512}, fake::Point{512, 512},    // speed 2
                          fake::Point{512, 512}, fake::Point{513, 512},    // speed 3
                          fake::Point{512, 512}, fake::Point{514, 512},    // speed 4
                          fake::Point{512, 512}, fake::Point{515, 512}));  // speed 5
}

}  // namespace
