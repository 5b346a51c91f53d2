// The tool's only path to the remote: the device handle, the report buffers,
// the output report encoders and the input decoder.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Decoded state of the remote. A field keeps its last value until a report
// that carries it is decoded.
struct RemoteInput {
  uint8_t buttons1;  // byte 1: D-pad and Plus
  uint8_t buttons2;  // byte 2: One, Two, B, A, Minus, Home
  uint8_t accelX;
  uint8_t accelY;
  uint8_t accelZ;
  int32_t ir1X;  // 0 to 1023; 1023 marks an empty slot
  int32_t ir1Y;
  int32_t ir2X;
  int32_t ir2Y;
  // Set by the first report that carries infrared points; until then the
  // point fields hold their start value and mean nothing.
  uint8_t irSeen;
};

// Button bits of buttons1.
constexpr uint8_t kButtonLeft = 0x01;
constexpr uint8_t kButtonRight = 0x02;
constexpr uint8_t kButtonDown = 0x04;
constexpr uint8_t kButtonUp = 0x08;
constexpr uint8_t kButtonPlus = 0x10;
// Button bits of buttons2.
constexpr uint8_t kButtonTwo = 0x01;
constexpr uint8_t kButtonOne = 0x02;
constexpr uint8_t kButtonB = 0x04;
constexpr uint8_t kButtonA = 0x08;
constexpr uint8_t kButtonMinus = 0x10;
constexpr uint8_t kButtonHome = 0x80;
// Bits 0x20 and 0x40 of both bytes carry low accelerometer bits in the
// report modes with accelerometer data, not buttons.
constexpr uint8_t kAccelBits = 0x60;

// LED 1 of the remote's four player LEDs (bits 4 to 7 of report 0x11).
constexpr uint8_t kLedOne = 0x10;

// The remote's input report modes that the tool selects.
constexpr uint8_t kModeButtons = 0x30;
constexpr uint8_t kModeButtonsAccel = 0x31;
constexpr uint8_t kModeButtonsAccelIr = 0x33;

// The status report. The remote sends it when asked, and also on its own (an
// extension plugged in or out); after one it sends no data reports until the
// host selects a report mode again. Byte 3 holds flags; 0x08 says that the
// camera is on.
constexpr uint8_t kReportStatus = 0x20;
constexpr uint8_t kStatusCameraOn = 0x08;

// The acknowledgement: byte 3 names the output report it answers. The remote
// sends one for every register write (0x16), and for the other output reports
// only when bit 1 of their byte 1 asks for it, which the tool never sets.
constexpr uint8_t kReportAcknowledge = 0x22;

constexpr int kReportBufferSize = platform::kReportBufferSize;

extern HidHandle hidHandle;
extern uint8_t outputReport[kReportBufferSize];
extern uint8_t inputReport[kReportBufferSize];
extern int32_t writeResultSlot;
extern int32_t readResultSlot;
extern RemoteInput remoteInput;

// Output encoders: each writes only the bytes its report defines into
// outputReport and sends it; the result is the platform's (no caller looks).
int SetLeds(uint8_t value);
int SetReportMode(uint8_t flags, uint8_t mode);
int SetIrEnable(uint8_t value);
int SetIrEnable2(uint8_t value);
int WriteRegister(uint8_t data, uint8_t space, uint8_t addrHigh,
                  uint8_t addrMid, uint8_t addrLow);
int SelectButtonsMode();
int SelectButtonsAccelMode();

// Both camera enables, and the camera's enable register 0xB00030 written
// 0x01, then 0x08.
void SendCameraEnables();
// One block of the start-up's camera set-up: report mode 0x33, then the
// enables.
void SendCameraBlock();
// The camera's sensitivity (0xB00006, 0xB00008, 0xB0001A) and its mode register
// 0xB00033, which selects the point format that report 0x33 carries.
void SendCameraSettings();

enum PollResult {
  kPollReport = 0,      // a report was read (and decoded, if it carries data)
  kPollNoReport = 1,    // nothing arrived: the limit ran out or the wait was ended
  kPollDeviceLost = 2,  // the remote is gone for good
};

// Reads one input report, waiting at most timeLimitMs for it (see
// platform::ReadReport), and decodes it into remoteInput.
PollResult PollInput(int timeLimitMs = platform::kNoTimeLimit);

// Decodes the report of the given length in buffer into input. Reports outside
// 0x30 to 0x3F, and reports shorter than the fields their number names, change
// nothing. Camera points are taken from report 0x33 alone: it is the one report
// that carries them in the three-byte form that the camera's set-up selects
// (0x36 and 0x37 carry the camera's ten-byte basic form, 0x32 extension
// bytes). Returns whether anything was decoded.
bool DecodeReport(const uint8_t* buffer, int length, RemoteInput* input);

// Whether the report of the given length in buffer is a status report.
inline bool IsStatusReport(const uint8_t* buffer, int length) {
  return length >= 1 && buffer[0] == kReportStatus;
}
