// The virtual remote's behaviour without the device: replies, camera, state
// and scenario files.
#include "remote_model.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace vremote {
namespace {

struct Sent {
  std::vector<Reply> replies;
  std::string what;
};

Sent Send(RemoteState* state, std::vector<uint8_t> report) {
  Sent s;
  s.what = HandleOutputReport(state, report.data(), static_cast<int>(report.size()), &s.replies);
  return s;
}

std::vector<uint8_t> RegisterWrite(uint8_t addrLow, uint8_t data) {
  std::vector<uint8_t> r(22, 0);
  r[0] = 0x16; r[1] = 0x04; r[2] = 0xB0; r[3] = 0x00; r[4] = addrLow; r[5] = 0x01; r[6] = data;
  return r;
}

// The decoding the tool applies to a three-byte camera point.
void Decode(const uint8_t* b, int* x, int* y) {
  *x = b[0] + ((b[2] & 0x30) << 4);
  *y = b[1] + ((b[2] & 0xC0) << 2);
}

TEST(VirtualRemote, ReportsInTheModeLastSelected) {
  RemoteState state;
  EXPECT_FALSE(ReportsContinuously(state));  // 0x30: on change only
  Sent s = Send(&state, {0x12, 0x00, 0x31});
  ASSERT_EQ(s.replies.size(), 1u);
  EXPECT_EQ(s.replies[0].bytes[0], 0x31);
  EXPECT_NE(s.replies[0].bytes[3], 0);  // accelerometer X
  EXPECT_TRUE(ReportsContinuously(state));
  s = Send(&state, {0x12, 0x00, 0x3D});  // not a mode it knows
  EXPECT_EQ(state.mode, 0x31);
  EXPECT_TRUE(s.replies.empty());
  Send(&state, {0x12, 0x04, 0x30});  // continuous flag
  EXPECT_EQ(state.mode, 0x30);
  EXPECT_TRUE(ReportsContinuously(state));
  Send(&state, {0x12, 0x00, 0x30});
  EXPECT_FALSE(ReportsContinuously(state));
}

TEST(VirtualRemote, ButtonsAndAccelerometerInEveryMode) {
  RemoteState state;
  state.buttons1 = 0x10;
  state.buttons2 = 0x84;
  const uint8_t modes[] = {0x30, 0x31, 0x33, 0x37};
  for (uint8_t mode : modes) {
    state.mode = mode;
    uint8_t r[kInputReportSize];
    BuildInputReport(&state, r);
    EXPECT_EQ(r[0], mode);
    EXPECT_EQ(r[1], 0x10);
    EXPECT_EQ(r[2], 0x84);
    EXPECT_EQ(r[3] != 0, mode != 0x30) << int(mode);
    EXPECT_EQ(ReportsContinuously(state), mode != 0x30) << int(mode);
  }
}

// What the kernel's driver does when a program opens its infrared device:
// camera on, its registers in the basic format, mode 0x36. The camera's bytes
// then come as two pairs of five; the tool's set-up brings the three-byte form
// back.
TEST(VirtualRemote, SendsTheCameraFormatItsModeRegisterSelects) {
  RemoteState state;
  ApplyStep(&state, Step{0, Step::kPoint, 0, 0, 700, 300});
  Send(&state, {0x13, 0x06});
  Send(&state, {0x1A, 0x06});
  Send(&state, RegisterWrite(0x30, 0x01));
  Send(&state, RegisterWrite(0x33, 0x01));
  Send(&state, RegisterWrite(0x30, 0x08));
  ASSERT_TRUE(CameraReady(state));
  ASSERT_TRUE(CameraBasicFormat(state));
  Sent s = Send(&state, {0x12, 0x00, 0x36});
  ASSERT_EQ(s.replies.size(), 1u);
  const uint8_t* r = s.replies[0].bytes;
  // 640 and 760 in x (0x280, 0x2F8), 300 in y (0x12C) for both points.
  const uint8_t pair[] = {0x80, 0x2C, 0x66, 0xF8, 0x2C};
  EXPECT_EQ(r[0], 0x36);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(r[3 + i], pair[i]) << i;
  for (int i = 8; i < 13; ++i) EXPECT_EQ(r[i], 0xFF) << i;  // points 3 and 4
  EXPECT_TRUE(ReportsContinuously(state));
  // Mode 0x37: accelerometer first, the same camera bytes from byte 6.
  s = Send(&state, {0x12, 0x00, 0x37});
  ASSERT_EQ(s.replies.size(), 1u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s.replies[0].bytes[6 + i], pair[i]) << i;
  // Mode 0x33 in the basic format: the tool's decoding would read the second
  // point 768 units off.
  s = Send(&state, {0x12, 0x00, 0x33});
  int x2, y2;
  Decode(s.replies[0].bytes + 9, &x2, &y2);
  EXPECT_EQ(x2, 0xF8 + 0x300);
  // The tool's mode register value selects the three-byte form again.
  Send(&state, RegisterWrite(0x33, 0x33));
  EXPECT_FALSE(CameraBasicFormat(state));
  uint8_t report[kInputReportSize];
  BuildInputReport(&state, report);
  int x1, y1;
  Decode(report + 6, &x1, &y1);
  Decode(report + 9, &x2, &y2);
  EXPECT_EQ(x1, 640);
  EXPECT_EQ(x2, 760);
  // The driver closing the device: camera off, no acknowledgement asked.
  EXPECT_TRUE(Send(&state, {0x13, 0x00}).replies.empty());
  EXPECT_TRUE(Send(&state, {0x1A, 0x00}).replies.empty());
  BuildInputReport(&state, report);
  for (int i = 6; i < 18; ++i) EXPECT_EQ(report[i], 0xFF) << i;
  s = Send(&state, {0x15, 0x00});
  ASSERT_EQ(s.replies.size(), 1u);
  EXPECT_EQ(s.replies[0].bytes[3] & 0x08, 0) << "the status report says the camera is off";
}

TEST(VirtualRemote, SendsPointsOnlyOnceTheCameraIsSetUp) {
  RemoteState state;
  ApplyStep(&state, Step{0, Step::kPoint, 0, 0, 700, 300});
  Send(&state, {0x12, 0x00, 0x33});
  Send(&state, {0x13, 0x04});
  Send(&state, {0x1A, 0x04});
  Send(&state, RegisterWrite(0x30, 0x01));
  uint8_t r[kInputReportSize];
  BuildInputReport(&state, r);
  for (int i = 6; i < 18; ++i) EXPECT_EQ(r[i], 0xFF) << i;  // camera not ready
  Send(&state, RegisterWrite(0x30, 0x08));
  Send(&state, RegisterWrite(0x33, 0x33));
  ASSERT_TRUE(CameraReady(state));
  BuildInputReport(&state, r);
  int x1, y1, x2, y2;
  Decode(r + 6, &x1, &y1);
  Decode(r + 9, &x2, &y2);
  EXPECT_EQ(x1, 640);
  EXPECT_EQ(x2, 760);
  EXPECT_EQ(y1, 300);
  EXPECT_EQ(y2, 300);
  EXPECT_EQ((x1 + x2) / 2, 700);
  for (int i = 12; i < 18; ++i) EXPECT_EQ(r[i], 0xFF) << i;  // slots 3 and 4
  ApplyStep(&state, Step{0, Step::kNoPoints});
  BuildInputReport(&state, r);
  for (int i = 6; i < 12; ++i) EXPECT_EQ(r[i], 0xFF) << i;
  Send(&state, {0x13, 0x00});  // camera off again
  ApplyStep(&state, Step{0, Step::kPoint, 0, 0, 512, 384});
  BuildInputReport(&state, r);
  EXPECT_EQ(r[6], 0xFF);
}

TEST(VirtualRemote, AcknowledgesRegisterWritesAndAnswersStatus) {
  RemoteState state;
  state.buttons2 = 0x04;
  Sent s = Send(&state, RegisterWrite(0x06, 0x90));
  ASSERT_EQ(s.replies.size(), 1u);
  const uint8_t ack[] = {0x22, 0x00, 0x04, 0x16, 0x00};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s.replies[0].bytes[i], ack[i]) << i;
  EXPECT_EQ(state.cameraRegisters[0x06], 0x90);
  Send(&state, {0x11, 0x10});
  Send(&state, {0x13, 0x04});
  s = Send(&state, {0x15, 0x00});
  ASSERT_EQ(s.replies.size(), 1u);
  EXPECT_EQ(s.replies[0].bytes[0], 0x20);
  EXPECT_EQ(s.replies[0].bytes[2], 0x04);
  EXPECT_EQ(s.replies[0].bytes[3], 0x10 | 0x08);  // LED 1, camera on
  EXPECT_NE(s.replies[0].bytes[6], 0);            // battery
  EXPECT_TRUE(Send(&state, {0x11, 0x20}).replies.empty());
  EXPECT_TRUE(Send(&state, {0x16, 0x04}).replies.empty());  // too short: ignored
  // Bit 1 of the first byte asks for an acknowledgement.
  s = Send(&state, {0x13, 0x06});
  ASSERT_EQ(s.replies.size(), 1u);
  EXPECT_EQ(s.replies[0].bytes[0], 0x22);
  EXPECT_EQ(s.replies[0].bytes[3], 0x13);
  EXPECT_EQ(s.what, "camera on, acknowledged");
  EXPECT_EQ(Send(&state, {0x15, 0x02}).replies.size(), 1u) << "the status report only";
}

TEST(VirtualRemote, AnswersMemoryReadsWithNothingInTheExtensionPort) {
  RemoteState state;
  state.buttons1 = 0x08;
  // The extension's and its add-on's identification: one error report each.
  for (uint8_t high : {0xA4, 0xA6}) {
    Sent s = Send(&state, {0x17, 0x04, high, 0x00, 0xFA, 0x00, 0x06});
    ASSERT_EQ(s.replies.size(), 1u) << int(high);
    const uint8_t want[] = {0x21, 0x08, 0x00, 0x57, 0x00, 0xFA};  // 6 bytes, error 7
    for (int i = 0; i < 6; ++i) EXPECT_EQ(s.replies[0].bytes[i], want[i]) << i;
  }
  // The camera's registers read back as written, 16 bytes per report.
  Send(&state, RegisterWrite(0x06, 0x90));
  Sent s = Send(&state, {0x17, 0x04, 0xB0, 0x00, 0x00, 0x00, 0x14});
  ASSERT_EQ(s.replies.size(), 2u);
  EXPECT_EQ(s.replies[0].bytes[3], 0xF0);  // 16 bytes, no error
  EXPECT_EQ(s.replies[0].bytes[6 + 0x06], 0x90);
  EXPECT_EQ(s.replies[1].bytes[3], 0x30);  // the last 4
  EXPECT_EQ(s.replies[1].bytes[5], 0x10);
  EXPECT_EQ(s.what, "read 04:b00000, 20 bytes");
  EXPECT_TRUE(Send(&state, {0x17, 0x04, 0xA4}).replies.empty());  // too short
}

TEST(VirtualRemote, SendsNoDataAfterAStatusReportUntilAModeIsSelected) {
  RemoteState state;
  Send(&state, {0x12, 0x00, 0x33});
  Sent s = Send(&state, {0x15, 0x00});
  ASSERT_EQ(s.replies.size(), 1u);
  EXPECT_EQ(s.replies[0].bytes[3] & 0x02, 0) << "no extension plugged in";
  EXPECT_TRUE(state.awaitingMode);
  s = Send(&state, {0x12, 0x00, 0x31});
  EXPECT_FALSE(state.awaitingMode);
  ASSERT_EQ(s.replies.size(), 1u);
  EXPECT_EQ(s.replies[0].bytes[0], 0x31);
  // A status report on its own, at a scenario step.
  std::vector<Step> steps;
  std::string error;
  ASSERT_TRUE(ParseScenario("100 status\n", &steps, &error)) << error;
  ApplyStep(&state, steps[0]);
  EXPECT_TRUE(state.statusDue);
  EXPECT_EQ(StatusReport(&state).bytes[0], 0x20);
  EXPECT_TRUE(state.awaitingMode);
}

TEST(VirtualRemote, KeepsLedsAndRumble) {
  RemoteState state;
  Send(&state, {0x11, 0x10});
  EXPECT_EQ(state.leds, 0x10);
  EXPECT_FALSE(state.rumble);
  EXPECT_EQ(Send(&state, {0x13, 0x05}).what, "rumble on, camera on");
  EXPECT_TRUE(state.rumble);
  EXPECT_TRUE(state.camera1);
  Send(&state, {0x13, 0x04});
  EXPECT_FALSE(state.rumble);
  Send(&state, {0x11, 0x31});  // any report carries the rumble bit
  EXPECT_TRUE(state.rumble);
  EXPECT_EQ(state.leds, 0x30);
}

TEST(VirtualRemote, ReadsScenarios) {
  std::vector<Step> steps;
  std::string error;
  ASSERT_TRUE(ParseScenario("# comment\n0 buttons none\n\n100 buttons b home up  # B\n"
                            "200 point 420 450\n300 no-points\n300 silence\n400 resume\n"
                            "500 disconnect\n",
                            &steps, &error))
      << error;
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(steps[1].atMs, 100);
  EXPECT_EQ(steps[1].buttons1, 0x08);
  EXPECT_EQ(steps[1].buttons2, 0x84);
  EXPECT_EQ(steps[2].kind, Step::kPoint);
  EXPECT_EQ(steps[2].x, 420);
  EXPECT_EQ(steps[2].y, 450);
  EXPECT_EQ(steps[6].kind, Step::kDisconnect);

  const struct {
    const char* text;
    const char* error;
  } faults[] = {
      {"x buttons b\n", "line 1: a line starts with a time"},
      {"100 buttons\n50 buttons b\n", "line 2: times must not go backwards"},
      {"0 buttons c\n", "line 1: unknown button 'c'"},
      {"0 point 1023 5\n", "line 1: point takes X and Y"},
      {"0 point 5\n", "line 1: point takes X and Y"},
      {"0 jump\n", "line 1: unknown 'jump'"},
      {"0 silence now\n", "line 1: silence takes nothing more"},
      {"7\n", "line 1: a time needs something to happen"},
  };
  for (const auto& f : faults) {
    EXPECT_FALSE(ParseScenario(f.text, &steps, &error)) << f.text;
    EXPECT_EQ(error.rfind(f.error, 0), 0u) << f.text << " gave " << error;
  }
}

// The scenarios that ship with the project read without a fault.
TEST(VirtualRemote, ShippedScenariosRead) {
  const char* const files[] = {
      "tools/virtual-remote/demo.scn", "tests/vm/scenarios/normal.scn",
      "tests/vm/scenarios/silent.scn", "tests/vm/scenarios/disconnect.scn",
      "tests/vm/scenarios/driver-mode.scn", "tests/vm/scenarios/driver-kill.scn"};
  for (const char* file : files) {
    std::ifstream in(std::string(TREVANQUILL_SOURCE_DIR) + "/" + file);
    ASSERT_TRUE(in) << file;
    std::stringstream text;
    text << in.rdbuf();
    std::vector<Step> steps;
    std::string error;
    EXPECT_TRUE(ParseScenario(text.str(), &steps, &error)) << file << ": " << error;
    EXPECT_FALSE(steps.empty()) << file;
  }
}

}  // namespace
}  // namespace vremote
