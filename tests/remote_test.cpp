// The remote's reports: the decoder and the output report encoders.
#include <gmock/gmock.h>

#include "tests/support.h"

using ::testing::ElementsAre;

namespace {

// Every field of RemoteInput as one comparable value.
struct Fields {
  int b1, b2, ax, ay, az, x1, y1, x2, y2, irSeen;
  bool operator==(const Fields& o) const {
    return b1 == o.b1 && b2 == o.b2 && ax == o.ax && ay == o.ay && az == o.az &&
           x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2 &&
           irSeen == o.irSeen;
  }
};
std::ostream& operator<<(std::ostream& os, const Fields& f) {
  return os << "buttons " << f.b1 << "," << f.b2 << " accel " << f.ax << ","
            << f.ay << "," << f.az << " ir " << f.x1 << "," << f.y1 << " "
            << f.x2 << "," << f.y2 << " seen " << f.irSeen;
}
Fields Of(const RemoteInput& in) {
  return Fields{in.buttons1, in.buttons2, in.accelX, in.accelY, in.accelZ,
                in.ir1X,     in.ir1Y,     in.ir2X,   in.ir2Y,   in.irSeen};
}

// The state every decoder case starts from: all fields set to values no
// report below carries.
RemoteInput Before() {
  RemoteInput in{};
  in.buttons1 = 0xAA;
  in.buttons2 = 0xBB;
  in.accelX = 1;
  in.accelY = 2;
  in.accelZ = 3;
  in.ir1X = 11;
  in.ir1Y = 12;
  in.ir2X = 13;
  in.ir2Y = 14;
  in.irSeen = 0;
  return in;
}
const Fields kUnchanged = Of(Before());

struct DecodeCase {
  const char* name;
  fake::Bytes report;
  bool decoded;
  Fields after;
};
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

const fake::Bytes kFull33 = Report(0x33)
                                .Buttons(0x12, 0x34)
                                .Accel(0x81, 0x82, 0x83)
                                .Raw(6, 0x34).Raw(7, 0x12).Raw(8, 0x9B)
                                .Raw(9, 0xFF).Raw(10, 0xFF).Raw(11, 0xFF);

const DecodeCase kDecodeCases[] = {
    {"acknowledgement 0x22 changes nothing",
     Report(0x22).Buttons(0x01, 0x02).Accel(9, 9, 9), false, kUnchanged},
    {"status 0x20 changes nothing", Report(0x20).Buttons(0x01, 0x80), false,
     kUnchanged},
    {"0x40 is outside the data reports", Report(0x40).Buttons(0x01, 0x80),
     false, kUnchanged},
    {"0x30 Home: buttons only", Report(0x30).Buttons(0x00, 0x80).Accel(7, 7, 7),
     true, {0x00, 0x80, 1, 2, 3, 11, 12, 13, 14, 0}},
    {"0x31 buttons and accelerometer",
     Report(0x31).Buttons(0x10, 0x04).Accel(0x81, 0x82, 0x83), true,
     {0x10, 0x04, 0x81, 0x82, 0x83, 11, 12, 13, 14, 0}},
    // Camera points come in report 0x33 alone; the other reports with bit 1
    // set carry extension bytes (0x32) or the camera's basic form (0x36,
    // 0x37), which would read as points far from where the remote points.
    {"0x32 carries extension bytes: buttons only",
     Report(0x32).Buttons(0x01, 0x02).Accel(0x55, 0x55, 0x55).Point(1, 100, 200).Point(2, 1000, 1001),
     true, {0x01, 0x02, 1, 2, 3, 11, 12, 13, 14, 0}},
    {"0x36 in the basic form: buttons only",
     Report(0x36).Buttons(0x00, 0x04).Raw(3, 0x64).Raw(4, 0xC8).Raw(5, 0x00).Raw(6, 0x58).Raw(7, 0x20),
     true, {0x00, 0x04, 1, 2, 3, 11, 12, 13, 14, 0}},
    {"0x37 in the basic form: buttons and accelerometer, no points",
     Report(0x37).Buttons(0x08, 0x00).Accel(0x81, 0x82, 0x83).Raw(6, 0x64).Raw(7, 0xC8).Raw(8, 0x00),
     true, {0x08, 0x00, 0x81, 0x82, 0x83, 11, 12, 13, 14, 0}},
    {"0x33 point bits: bits 4-5 and 6-7 of the third byte", kFull33, true,
     {0x12, 0x34, 0x81, 0x82, 0x83, 0x134, 0x212, 1023, 1023, 1}},
    {"0x3F decodes by its bits as accelerometer, with no points",
     Report(0x3F).Buttons(0x02, 0x08).Accel(5, 6, 7).Point(1, 0, 0).Point(2, 1023, 767),
     true, {0x02, 0x08, 5, 6, 7, 11, 12, 13, 14, 0}},
    {"bits 0x20 and 0x40 are stored whole",
     Report(0x30).Buttons(0x60, 0xE0), true,
     {0x60, 0xE0, 1, 2, 3, 11, 12, 13, 14, 0}},
    // Reports too short for the fields their number names change nothing.
    {"0x30 of 2 bytes", Report(0x30).Buttons(0x01, 0x80).Length(2), false, kUnchanged},
    {"0x31 of 5 bytes", Report(0x31).Buttons(0x01, 0x02).Accel(9, 9, 9).Length(5),
     false, kUnchanged},
    {"0x33 of 11 bytes", Report(0x33).Buttons(0x01, 0x02).Point(1, 5, 5).Length(11),
     false, kUnchanged},
    {"0x33 of exactly 12 bytes",
     Report(0x33).Buttons(0x01, 0x02).Accel(4, 5, 6).Point(1, 5, 6).Point(2, 7, 8).Length(12),
     true, {0x01, 0x02, 4, 5, 6, 5, 6, 7, 8, 1}},
    {"an empty report has not even a number", fake::Bytes{}, false, kUnchanged},
    {"0x31 of exactly 6 bytes", Report(0x31).Buttons(0x03, 0x04).Accel(4, 5, 6).Length(6),
     true, {0x03, 0x04, 4, 5, 6, 11, 12, 13, 14, 0}},
};

class Decoder : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decoder, ChangesExactlyTheFieldsItsNumberNames) {
  const DecodeCase& c = GetParam();
  RemoteInput in = Before();
  EXPECT_EQ(DecodeReport(c.report.data(), static_cast<int>(c.report.size()), &in),
            c.decoded);
  EXPECT_EQ(Of(in), c.after);
}

INSTANTIATE_TEST_SUITE_P(Reports, Decoder, ::testing::ValuesIn(kDecodeCases), CaseName());

TEST(DecoderPoints, EveryTenBitValueRoundTrips) {
  for (int v = 0; v < 1024; ++v) {
    const fake::Bytes r = Report(0x33).Point(1, v, 1023 - v).Point(2, 1023 - v, v);
    RemoteInput in{};
    ASSERT_TRUE(DecodeReport(r.data(), static_cast<int>(r.size()), &in));
    ASSERT_EQ(Fields({0, 0, 0, 0, 0, v, 1023 - v, 1023 - v, v, 1}), Of(in)) << v;
  }
}

// ------------------------------------------------------------ PollInput

class Poll : public TestPlatform {};

TEST_F(Poll, DecodesWhatTheRemoteSends) {
  hidHandle = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  remote.Sends(Report(0x31).Buttons(0x08, 0x04).Accel(0x90, 0x91, 0x92));
  EXPECT_EQ(PollInput(), kPollReport);
  EXPECT_EQ(Of(remoteInput), Fields({0x08, 0x04, 0x90, 0x91, 0x92, 0, 0, 0, 0, 0}));
  EXPECT_EQ(readResultSlot, 22);
}

TEST_F(Poll, ReadThatBringsNothingDecodesNothing) {
  hidHandle = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  remote.Sends(Report(0x33).Buttons(0x00, kButtonOne).Accel(1, 2, 3).Point(1, 10, 20).Point(2, 30, 40));
  remote.FailsRead();
  remote.Silent(30);
  ASSERT_EQ(PollInput(), kPollReport);
  const Fields first = Of(remoteInput);
  // The failed read must not decode the old buffer again, nor anything else.
  std::memset(&remoteInput, 0, sizeof remoteInput);
  EXPECT_EQ(PollInput(), kPollNoReport);
  EXPECT_EQ(PollInput(), kPollNoReport);  // the silence
  EXPECT_EQ(PollInput(), kPollNoReport);  // and nothing after it
  EXPECT_EQ(Of(remoteInput), Fields({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(first.b2, kButtonOne);
}

TEST_F(Poll, DeviceGoneIsReportedAndStaysGone) {
  hidHandle = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  remote.Disappears();
  EXPECT_EQ(PollInput(), kPollDeviceLost);
  EXPECT_EQ(PollInput(), kPollDeviceLost);
}

// ------------------------------------------------------------ encoders

class Encoders : public TestPlatform {
 protected:
  void SetUp() override {
    TestPlatform::SetUp();
    hidHandle = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  }
  fake::Bytes Buffer(int n) { return fake::Bytes(outputReport, outputReport + n); }
};

TEST_F(Encoders, EachReportCarriesItsBytes) {
  SetLeds(0x10);
  SetReportMode(0x00, 0x33);
  SetIrEnable(0x05);
  SetIrEnable2(0x04);
  WriteRegister(0x90, 0x04, 0xB0, 0x00, 0x06);
  SelectButtonsMode();
  SelectButtonsAccelMode();
  EXPECT_THAT(remote.WrittenBytes(),
              ElementsAre(B({0x11, 0x10}), B({0x12, 0x00, 0x33}), B({0x13, 0x05}),
                          B({0x1A, 0x04}),
                          B({0x16, 0x04, 0xB0, 0x00, 0x06, 0x01, 0x90, 0, 0, 0, 0,
                             0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                          B({0x12, 0x00, 0x30}), B({0x12, 0x00, 0x31})));
}

TEST_F(Encoders, RegisterWriteClearsItsTailAndLaterReportsLeaveItInPlace) {
  for (int i = 0; i < kReportBufferSize; ++i) outputReport[i] = 0xEE;
  WriteRegister(0x90, 0x04, 0xB0, 0x00, 0x06);
  SetLeds(0x10);
  fake::Bytes expected = B({0x11, 0x10, 0xB0, 0x00, 0x06, 0x01, 0x90});
  expected.resize(22, 0x00);
  EXPECT_EQ(Buffer(22), expected);
  EXPECT_EQ(outputReport[22], 0xEE) << "bytes past the register write are not its own";
}

TEST_F(Encoders, ResultIsThePlatformsAndFailuresAreNotHidden) {
  EXPECT_EQ(SetLeds(0x10), 2);
  EXPECT_EQ(writeResultSlot, 2);
  remote.failWrites = true;
  EXPECT_EQ(SetReportMode(0x00, 0x30), -1);
  EXPECT_EQ(writeResultSlot, -1);
}

}  // namespace
