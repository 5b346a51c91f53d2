// The virtual remote's behaviour, without the device: what it does with each
// output report it receives, which input report it sends next, and the
// scenario that says which buttons are held and where the remote points.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vremote {

// Every input report travels with this many bytes, number byte included; the
// report descriptor declares reports 0x20 to 0x3F with this size.
constexpr int kInputReportSize = 22;

// One line of a scenario file.
struct Step {
  enum Kind { kButtons, kPoint, kNoPoints, kSilence, kResume, kDisconnect, kStatus };
  int atMs = 0;  // from the moment a program first opens the remote
  Kind kind = kButtons;
  uint8_t buttons1 = 0;
  uint8_t buttons2 = 0;
  int x = 0;  // camera coordinates of the spot between the two lights
  int y = 0;
};

// Reads a scenario from text. On a fault returns false and says which line in
// *error.
bool ParseScenario(const std::string& text, std::vector<Step>* steps, std::string* error);

// What the remote holds: the state the output reports set and the state the
// scenario sets.
struct RemoteState {
  // Set by the host.
  uint8_t mode = 0x30;       // number of the input reports it sends
  bool continuous = false;   // report mode flag 0x04: report even without change
  uint8_t leds = 0;          // LEDs 1 to 4 in bits 4 to 7
  bool rumble = false;
  bool camera1 = false;      // report 0x13, bit 2
  bool camera2 = false;      // report 0x1A, bit 2
  uint8_t cameraRegisters[256] = {};  // control registers 0xB00000 to 0xB000FF
  bool cameraRegistersWritten[256] = {};
  // Set by the scenario.
  uint8_t buttons1 = 0;
  uint8_t buttons2 = 0;
  bool pointing = false;
  int x = 512;
  int y = 384;
  bool silent = false;
  bool disconnect = false;
  bool statusDue = false;  // a status report is to go out on its own
  // After a status report the remote sends no data reports until the host
  // selects a report mode.
  bool awaitingMode = false;
  // Running counter that makes the accelerometer jitter like a real one.
  unsigned jitter = 0;
};

// True once both camera enables are on and the camera's registers are set up:
// enable register 0xB00030 holds 0x08 and the mode register 0xB00033 is set.
bool CameraReady(const RemoteState& state);

// Whether the camera sends its points in the basic format (five bytes for two
// points), as its mode register 0xB00033 says: 0x01 selects it; the tool's
// 0x33 selects the extended format (three bytes a point) that report 0x33
// carries.
bool CameraBasicFormat(const RemoteState& state);

// Whether the remote sends a report in its current mode without a change:
// always in the modes with accelerometer or camera data (neither ever holds
// still), and when the host asked for continuous reports.
bool ReportsContinuously(const RemoteState& state);

// An input report to send in answer to something.
struct Reply {
  uint8_t bytes[kInputReportSize];
};

// The status report 0x20 (buttons, LEDs and camera flag, no extension,
// battery); from now on the remote waits for a report mode.
Reply StatusReport(RemoteState* state);

// Handles one output report from the host. Replies (acknowledgement 0x22,
// status 0x20, read data 0x21, a report in a newly selected mode) are
// appended to *replies.
// Returns a short description for the log of what changed, or "".
std::string HandleOutputReport(RemoteState* state, const uint8_t* data, int size,
                               std::vector<Reply>* replies);

// Fills report with the input report of the current mode.
void BuildInputReport(RemoteState* state, uint8_t* report);

// Applies one scenario step to the state.
void ApplyStep(RemoteState* state, const Step& step);

// The report descriptor the device is made with: one vendor-defined
// collection with the output reports the tool sends and the input reports
// 0x20 to 0x3F, all of bytes.
std::vector<uint8_t> ReportDescriptor();

}  // namespace vremote
