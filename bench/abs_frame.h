// The frame a floor writes to a uinput device: one ABS_X event (its value
// set per write) and the SYN_REPORT that closes it. Shared by the floors of
// uinput_pass_bench.cpp and kernel_path_bench.cpp.
#pragma once

#include <linux/input.h>

#include <cstring>

namespace benchframe {

struct AbsXFrame {
  input_event events[2];
};

inline AbsXFrame MakeAbsXFrame() {
  AbsXFrame f;
  std::memset(&f, 0, sizeof f);
  f.events[0].type = EV_ABS;
  f.events[0].code = ABS_X;
  f.events[1].type = EV_SYN;
  f.events[1].code = SYN_REPORT;
  return f;
}

}  // namespace benchframe
