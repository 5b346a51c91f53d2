// What the logic-only benchmark's desktop counts.
#pragma once

namespace benchdesktop {

struct Counters {
  long cursorSets;
  long cursorReads;
  long mouseEvents;
  long consoleWrites;
};
extern Counters counters;

}  // namespace benchdesktop
