// The tool's one busy wait, built on the platform's high-resolution counter
// and shared by every backend and the test platform.
#include "platform/platform.h"

namespace platform {

void WaitMilliseconds(int ms) {
  const double frequency = static_cast<double>(QueryFrequency());
  const int64_t start = QueryCounter();
  for (;;) {
    const int64_t now = QueryCounter();
    if (static_cast<double>(now - start) / frequency * 1000.0 > ms) return;
  }
}

}  // namespace platform
