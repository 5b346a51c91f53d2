#include "remote/remote.h"

HidHandle hidHandle;
uint8_t outputReport[kReportBufferSize];
uint8_t inputReport[kReportBufferSize];
int32_t writeResultSlot;
int32_t readResultSlot;
RemoteInput remoteInput;

namespace {

int Send() {
  return platform::WriteReport(hidHandle, outputReport, &writeResultSlot);
}

// Bytes 1 to 11 of a report in 0x30 to 0x3F: two button bytes, three
// accelerometer bytes when bit 0 of the number is set, and, in report 0x33,
// the first two of the camera's point slots of three bytes.
constexpr int kButtonsEnd = 3;
constexpr int kAccelEnd = 6;
constexpr int kIrEnd = 12;

}  // namespace

int SetLeds(uint8_t value) {
  outputReport[0] = 0x11;
  outputReport[1] = value;
  return Send();
}

int SetReportMode(uint8_t flags, uint8_t mode) {
  outputReport[0] = 0x12;
  outputReport[1] = flags;
  outputReport[2] = mode;
  return Send();
}

int SetIrEnable(uint8_t value) {
  outputReport[0] = 0x13;
  outputReport[1] = value;
  return Send();
}

int SetIrEnable2(uint8_t value) {
  outputReport[0] = 0x1A;
  outputReport[1] = value;
  return Send();
}

int WriteRegister(uint8_t data, uint8_t space, uint8_t addrHigh,
                  uint8_t addrMid, uint8_t addrLow) {
  outputReport[0] = 0x16;
  outputReport[1] = space;
  outputReport[2] = addrHigh;
  outputReport[3] = addrMid;
  outputReport[4] = addrLow;
  outputReport[5] = 0x01;  // one byte of data
  outputReport[6] = data;
  for (int i = 7; i <= 21; ++i) outputReport[i] = 0x00;
  return Send();
}

int SelectButtonsMode() { return SetReportMode(0x00, kModeButtons); }

int SelectButtonsAccelMode() { return SetReportMode(0x00, kModeButtonsAccel); }

void SendCameraEnables() {
  SetIrEnable(0x04);
  SetIrEnable2(0x04);
  WriteRegister(0x01, 0x04, 0xB0, 0x00, 0x30);
  WriteRegister(0x08, 0x04, 0xB0, 0x00, 0x30);
}

void SendCameraBlock() {
  SetReportMode(0x00, kModeButtonsAccelIr);
  SendCameraEnables();
}

void SendCameraSettings() {
  WriteRegister(0x90, 0x04, 0xB0, 0x00, 0x06);
  WriteRegister(0xC0, 0x04, 0xB0, 0x00, 0x08);
  WriteRegister(0x40, 0x04, 0xB0, 0x00, 0x1A);
  WriteRegister(0x33, 0x04, 0xB0, 0x00, 0x33);
}

bool DecodeReport(const uint8_t* buffer, int length, RemoteInput* input) {
  if (length < 1) return false;  // not even a report number
  const uint8_t id = buffer[0];
  if ((id & 0xF0) != 0x30) return false;
  const bool hasAccel = (id & 0x01) != 0;
  const bool hasIr = id == kModeButtonsAccelIr;
  const int needed = hasIr ? kIrEnd : hasAccel ? kAccelEnd : kButtonsEnd;
  if (length < needed) return false;

  input->buttons1 = buffer[1];
  input->buttons2 = buffer[2];
  if (hasAccel) {
    input->accelX = buffer[3];
    input->accelY = buffer[4];
    input->accelZ = buffer[5];
  }
  if (hasIr) {
    // Bits 4-5 of the third byte are bits 8-9 of x, bits 6-7 those of y.
    const uint8_t* p1 = buffer + 6;
    const uint8_t* p2 = buffer + 9;
    input->ir1X = p1[0] + ((p1[2] & 0x30) << 4);
    input->ir1Y = p1[1] + ((p1[2] & 0xC0) << 2);
    input->ir2X = p2[0] + ((p2[2] & 0x30) << 4);
    input->ir2Y = p2[1] + ((p2[2] & 0xC0) << 2);
    input->irSeen = 1;
  }
  return true;
}

PollResult PollInput(int timeLimitMs) {
  const platform::ReadOutcome outcome =
      platform::ReadReport(hidHandle, inputReport, &readResultSlot, timeLimitMs);
  if (outcome == platform::kReadDeviceLost) return kPollDeviceLost;
  if (outcome != platform::kReadReport) return kPollNoReport;
  int length = readResultSlot;
  if (length > kReportBufferSize) length = kReportBufferSize;
  DecodeReport(inputReport, length, &remoteInput);
  return kPollReport;
}
