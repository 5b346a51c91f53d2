// What most tests need: a report builder, a fixture that puts the program and
// the test platform back to their start, and short names for the effects.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "app/program.h"
#include "remote/remote.h"
#include "tests/fake/fake_platform.h"
#include "tests/program_state.h"

// An input report of the remote, 22 bytes with the number as the remote
// sends them, built field by field.
class Report {
 public:
  explicit Report(uint8_t number) : bytes_(22, 0) { bytes_[0] = number; }
  Report& Buttons(uint8_t b1, uint8_t b2) {
    bytes_[1] = b1;
    bytes_[2] = b2;
    return *this;
  }
  Report& Accel(uint8_t x, uint8_t y, uint8_t z) {
    bytes_[3] = x;
    bytes_[4] = y;
    bytes_[5] = z;
    return *this;
  }
  // Point slot 1 or 2 at camera position (x, y), 0 to 1023.
  Report& Point(int slot, int x, int y) {
    uint8_t* p = &bytes_[slot == 1 ? 6 : 9];
    p[0] = static_cast<uint8_t>(x & 0xFF);
    p[1] = static_cast<uint8_t>(y & 0xFF);
    p[2] = static_cast<uint8_t>(((x >> 8) & 0x03) << 4 | ((y >> 8) & 0x03) << 6);
    return *this;
  }
  // Both slots as the camera sends them when it sees nothing there.
  Report& NoPoints() {
    for (int i = 6; i <= 11; ++i) bytes_[i] = 0xFF;
    return *this;
  }
  Report& Raw(int index, uint8_t value) {
    bytes_[index] = value;
    return *this;
  }
  Report& Length(size_t n) {
    bytes_.resize(n);
    return *this;
  }
  operator const fake::Bytes&() const { return bytes_; }
  const fake::Bytes& bytes() const { return bytes_; }

 private:
  fake::Bytes bytes_;
};

// A report of mode 0x33 with the given buttons, a resting accelerometer and
// no infrared points.
inline Report Buttons(uint8_t b1, uint8_t b2) {
  return Report(0x33).Buttons(b1, b2).Accel(0x80, 0x80, 0x9A).NoPoints();
}

inline Report HomeReport() { return Buttons(0x00, kButtonHome); }

// The probe's answer: a buttons-and-accelerometer report with data in it.
inline Report ProbeReport() {
  return Report(0x31).Buttons(0, 0).Accel(0x82, 0x7F, 0x9B);
}

inline fake::MouseRecord Mouse(uint32_t flags, int32_t data = 0) {
  return fake::MouseRecord{flags, data};
}
inline fake::MouseRecord LeftDown() { return Mouse(platform::kMouseLeftDown); }
inline fake::MouseRecord LeftUp() { return Mouse(platform::kMouseLeftUp); }
inline fake::MouseRecord RightDown() { return Mouse(platform::kMouseRightDown); }
inline fake::MouseRecord RightUp() { return Mouse(platform::kMouseRightUp); }
inline fake::MouseRecord WheelUp() { return Mouse(platform::kMouseWheel, 64); }
inline fake::MouseRecord WheelDown() { return Mouse(platform::kMouseWheel, -64); }

inline fake::Bytes B(std::initializer_list<int> values) {
  fake::Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// Names a parameterised test after its case's name field.
struct CaseName {
  template <class Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) {
      name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return name;
  }
};

// The bytes of a register write of one byte into the camera's registers
// 0xB000xx, as they travel (22 bytes).
inline fake::Bytes Register(int data, int addrLow) {
  fake::Bytes b = {0x16, 0x04, 0xB0, 0x00, static_cast<uint8_t>(addrLow), 0x01,
                   static_cast<uint8_t>(data)};
  b.resize(22, 0x00);
  return b;
}

// One block of the camera's set-up: mode 0x33, both enables, 0xB00030 = 0x01
// then 0x08.
inline std::vector<fake::Bytes> CameraBlock() {
  return {fake::Bytes{0x12, 0x00, 0x33}, fake::Bytes{0x13, 0x04}, fake::Bytes{0x1A, 0x04},
          Register(0x01, 0x30), Register(0x08, 0x30)};
}

// The camera's sensitivity and its mode register.
inline std::vector<fake::Bytes> CameraSettings() {
  return {Register(0x90, 0x06), Register(0xC0, 0x08), Register(0x40, 0x1A), Register(0x33, 0x33)};
}

inline std::vector<fake::Bytes> Then(std::vector<fake::Bytes> a, const std::vector<fake::Bytes>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Puts the program's state and the test platform back to their start.
class TestPlatform : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
  void TearDown() override {
    EXPECT_FALSE(fake::remote.timeCapHit)
        << "the run went on long after its script had ended";
    fake::Reset();
  }

  fake::ScriptedRemote& remote = fake::remote;
  fake::RecordedDesktop& desktop = fake::desktop;
};

// The timeline's lines that start with prefix, in order.
inline std::vector<std::string> Lines(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : fake::timeline) {
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  }
  return out;
}
