// The arithmetic of the X11 layer that needs no server.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/linux/linux_backend.h"

namespace {

using linuxbackend::ClampCoordinate;
using linuxbackend::TakeWheelNotches;

TEST(WheelNotches, AmountsOf64AddUpToWholeNotches) {
  struct Case {
    const char* name;
    std::vector<int32_t> amounts;
    std::vector<int> notches;  // after each amount
    int32_t rest;
  };
  const Case cases[] = {
      {"One held: 960 units in 15 reports are 8 notches",
       std::vector<int32_t>(15, 64),
       {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 1}, 0},
      {"Two held", {-64, -64, -64, -64}, {0, -1, 0, -1}, -16},
      {"Plus twice: nothing, then one down", {-64, -64}, {0, -1}, -8},
      {"turning back drops the rest", {64, 64, 64, -64, -64}, {0, 1, 0, 0, -1}, -8},
      {"a whole notch at once", {120, -240}, {1, -2}, 0},
      {"zero changes nothing", {64, 0, 64}, {0, 0, 1}, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t units = 0;
    std::vector<int> got;
    for (int32_t amount : c.amounts) got.push_back(TakeWheelNotches(&units, amount));
    EXPECT_EQ(got, c.notches);
    EXPECT_EQ(units, c.rest);
  }
}

TEST(WheelNotches, FifteenReportsOfOneGiveEightNotchesUp) {
  int32_t units = 0;
  int total = 0;
  for (int i = 0; i < 15; ++i) total += TakeWheelNotches(&units, 64);
  EXPECT_EQ(total, 8);
}

TEST(ClampCoordinate, KeepsTheSixteenBitRange) {
  const int cases[][2] = {{0, 0},          {-5, -5},         {32767, 32767},
                          {32768, 32767},  {-32768, -32768}, {-32769, -32768},
                          {99999, 32767},  {-99999, -32768}, {INT_MAX, 32767},
                          {INT_MIN, -32768}};
  for (const auto& c : cases) EXPECT_EQ(ClampCoordinate(c[0]), c[1]) << c[0];
}

}  // namespace
