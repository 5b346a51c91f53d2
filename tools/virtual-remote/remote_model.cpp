#include "remote_model.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace vremote {

namespace {

// Half the distance between the sensor bar's two lights as the camera sees
// them from a couple of metres, in camera units.
constexpr int kLightHalfGap = 60;
constexpr int kCameraMax = 1022;  // 1023 in x marks an empty slot

// Accelerometer at rest, lying flat: about 1 g on Z.
constexpr uint8_t kAccelRest = 0x80;
constexpr uint8_t kAccelRestZ = 0x9A;

constexpr uint8_t kBatteryLevel = 0xC0;

struct ButtonName {
  const char* name;
  int byte;  // 1 or 2
  uint8_t mask;
};

constexpr ButtonName kButtonNames[] = {
    {"left", 1, 0x01},  {"right", 1, 0x02}, {"down", 1, 0x04}, {"up", 1, 0x08},
    {"plus", 1, 0x10},  {"two", 2, 0x01},   {"one", 2, 0x02},  {"b", 2, 0x04},
    {"a", 2, 0x08},     {"minus", 2, 0x10}, {"home", 2, 0x80},
};

bool ParseInt(const std::string& word, int* value) {
  if (word.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(word.c_str(), &end, 10);
  if (*end != '\0' || v < -1000000 || v > 100000000) return false;
  *value = static_cast<int>(v);
  return true;
}

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// One camera point in the three-byte form of report 0x33: x and y low bytes,
// then y bits 8-9 in bits 6-7, x bits 8-9 in bits 4-5 and the spot's size.
void PutPoint(uint8_t* out, int x, int y) {
  constexpr uint8_t kSpotSize = 0x02;
  out[0] = static_cast<uint8_t>(x & 0xFF);
  out[1] = static_cast<uint8_t>(y & 0xFF);
  out[2] = static_cast<uint8_t>((((y >> 8) & 0x03) << 6) | (((x >> 8) & 0x03) << 4) | kSpotSize);
}

// Two camera points in the five-byte form of the camera's basic format: x and
// y low bytes of the first, the high bits of both (y1 in bits 6-7, x1 in 4-5,
// y2 in 2-3, x2 in 0-1), x and y low bytes of the second. An empty point has
// every bit set.
void PutBasicPair(uint8_t* out, int x1, int y1, int x2, int y2) {
  out[0] = static_cast<uint8_t>(x1 & 0xFF);
  out[1] = static_cast<uint8_t>(y1 & 0xFF);
  out[2] = static_cast<uint8_t>((((y1 >> 8) & 0x03) << 6) | (((x1 >> 8) & 0x03) << 4) |
                                (((y2 >> 8) & 0x03) << 2) | ((x2 >> 8) & 0x03));
  out[3] = static_cast<uint8_t>(x2 & 0xFF);
  out[4] = static_cast<uint8_t>(y2 & 0xFF);
}

// The camera's data as it fills the infrared bytes of a report: in the
// extended format four slots of three bytes, in the basic format two pairs of
// five bytes (and the rest of a longer field 0xFF). The sensor bar's two
// lights fill the first two slots while the remote points and the camera is
// set up; every slot is empty otherwise.
void PutCameraData(const RemoteState& state, uint8_t* out, int size) {
  uint8_t data[12];
  std::memset(data, 0xFF, sizeof data);
  const bool seen = state.pointing && CameraReady(state);
  const int x1 = Clamp(state.x - kLightHalfGap, 0, kCameraMax);
  const int x2 = Clamp(state.x + kLightHalfGap, 0, kCameraMax);
  if (seen && CameraBasicFormat(state)) {
    PutBasicPair(data, x1, state.y, x2, state.y);
  } else if (seen) {
    PutPoint(data, x1, state.y);
    PutPoint(data + 3, x2, state.y);
  }
  std::memcpy(out, data, size);
}

Reply Acknowledge(const RemoteState& state, uint8_t reportNumber) {
  Reply r = {};
  r.bytes[0] = 0x22;
  r.bytes[1] = state.buttons1;
  r.bytes[2] = state.buttons2;
  r.bytes[3] = reportNumber;
  r.bytes[4] = 0x00;  // no error
  return r;
}

// Answers a memory read (0x17) with read-data reports 0x21 of up to 16 bytes
// each: buttons, then size - 1 in the high nibble and an error code in the low
// nibble of byte 3, the low 16 bits of the address in bytes 4 and 5, the
// data from byte 6. Nothing is plugged into the remote's extension port, so a
// read of the extension's registers (0xA4xxxx, and 0xA6xxxx of an add-on
// between remote and extension) fails with error 7; the camera's registers
// read as written; everything else reads as zeros.
void ReadMemory(const RemoteState& state, uint8_t space, uint32_t address, int size,
                std::vector<Reply>* replies) {
  constexpr uint8_t kErrorNoDevice = 0x07;
  constexpr int kChunk = 16;
  const bool registers = (space & 0x04) != 0;
  const uint32_t block = address & 0xFF0000;
  const bool nothingThere = registers && (block == 0xA40000 || block == 0xA60000);
  for (int done = 0; done < size; done += kChunk) {
    const int n = size - done < kChunk ? size - done : kChunk;
    const uint32_t at = address + done;
    Reply r = {};
    r.bytes[0] = 0x21;
    r.bytes[1] = state.buttons1;
    r.bytes[2] = state.buttons2;
    r.bytes[3] = static_cast<uint8_t>(((n - 1) << 4) | (nothingThere ? kErrorNoDevice : 0));
    r.bytes[4] = static_cast<uint8_t>(at >> 8);
    r.bytes[5] = static_cast<uint8_t>(at);
    for (int i = 0; i < n && !nothingThere; ++i) {
      const uint32_t a = at + i;
      if (registers && (a & 0xFFFF00) == 0xB00000) r.bytes[6 + i] = state.cameraRegisters[a & 0xFF];
    }
    replies->push_back(r);
    if (nothingThere) return;  // one error report ends the read
  }
}

std::string Hex(uint8_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x", v);
  return text;
}

}  // namespace

bool ParseScenario(const std::string& text, std::vector<Step>* steps, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  int lineNumber = 0;
  int lastMs = 0;
  steps->clear();
  while (std::getline(lines, line)) {
    ++lineNumber;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    Step step;
    if (!ParseInt(w[0], &step.atMs) || step.atMs < 0) {
      *error = where + "a line starts with a time in milliseconds";
      return false;
    }
    if (step.atMs < lastMs) {
      *error = where + "times must not go backwards";
      return false;
    }
    lastMs = step.atMs;
    if (w.size() < 2) {
      *error = where + "a time needs something to happen";
      return false;
    }
    const std::string& what = w[1];
    if (what == "buttons") {
      step.kind = Step::kButtons;
      for (size_t i = 2; i < w.size(); ++i) {
        if (w[i] == "none") continue;
        bool known = false;
        for (const ButtonName& b : kButtonNames) {
          if (w[i] != b.name) continue;
          (b.byte == 1 ? step.buttons1 : step.buttons2) |= b.mask;
          known = true;
        }
        if (!known) {
          *error = where + "unknown button '" + w[i] +
                   "' (left right up down plus minus one two a b home none)";
          return false;
        }
      }
    } else if (what == "point") {
      step.kind = Step::kPoint;
      if (w.size() != 4 || !ParseInt(w[2], &step.x) || !ParseInt(w[3], &step.y) ||
          step.x < 0 || step.x > kCameraMax || step.y < 0 || step.y > kCameraMax) {
        *error = where + "point takes X and Y in camera units, 0 to 1022";
        return false;
      }
    } else if (what == "no-points" || what == "silence" || what == "resume" ||
               what == "disconnect" || what == "status") {
      if (w.size() != 2) {
        *error = where + what + " takes nothing more";
        return false;
      }
      step.kind = what == "no-points"   ? Step::kNoPoints
                  : what == "silence"   ? Step::kSilence
                  : what == "resume"    ? Step::kResume
                  : what == "status"    ? Step::kStatus
                                        : Step::kDisconnect;
    } else {
      *error = where + "unknown '" + what +
               "' (buttons, point, no-points, silence, resume, status, disconnect)";
      return false;
    }
    steps->push_back(step);
  }
  return true;
}

Reply StatusReport(RemoteState* state) {
  Reply r = {};
  r.bytes[0] = 0x20;
  r.bytes[1] = state->buttons1;
  r.bytes[2] = state->buttons2;
  r.bytes[3] = static_cast<uint8_t>(state->leds | (state->camera1 ? 0x08 : 0x00));
  r.bytes[6] = kBatteryLevel;
  state->awaitingMode = true;
  return r;
}

bool CameraReady(const RemoteState& state) {
  return state.camera1 && state.camera2 && state.cameraRegistersWritten[0x30] &&
         state.cameraRegisters[0x30] == 0x08 && state.cameraRegistersWritten[0x33];
}

bool CameraBasicFormat(const RemoteState& state) {
  return (state.cameraRegisters[0x33] & 0x0F) == 0x01;
}

bool ReportsContinuously(const RemoteState& state) {
  return state.continuous || state.mode != 0x30;
}

std::string HandleOutputReport(RemoteState* state, const uint8_t* data, int size,
                               std::vector<Reply>* replies) {
  if (size < 2) return "too short";
  const uint8_t number = data[0];
  // Bit 0 of the first byte of every output report drives the rumble motor.
  const bool rumble = (data[1] & 0x01) != 0;
  std::string what;
  if (rumble != state->rumble) what = rumble ? "rumble on" : "rumble off";
  state->rumble = rumble;
  auto add = [&what](const std::string& s) {
    if (!what.empty()) what += ", ";
    what += s;
  };
  switch (number) {
    case 0x11:
      state->leds = data[1] & 0xF0;
      add("leds " + Hex(state->leds));
      break;
    case 0x12: {
      if (size < 3) return "report mode too short";
      const uint8_t mode = data[2];
      state->continuous = (data[1] & 0x04) != 0;
      state->awaitingMode = false;
      if (mode == 0x30 || mode == 0x31 || mode == 0x33 || mode == 0x36 || mode == 0x37) {
        state->mode = mode;
        add("mode " + Hex(mode));
        Reply r = {};
        BuildInputReport(state, r.bytes);
        replies->push_back(r);
      } else {
        add("mode " + Hex(mode) + " not supported, stays " + Hex(state->mode));
      }
      break;
    }
    case 0x13:
      state->camera1 = (data[1] & 0x04) != 0;
      add(state->camera1 ? "camera on" : "camera off");
      break;
    case 0x1A:
      state->camera2 = (data[1] & 0x04) != 0;
      add(state->camera2 ? "camera 2 on" : "camera 2 off");
      break;
    case 0x15:
      replies->push_back(StatusReport(state));
      add("status");
      break;
    case 0x17: {
      if (size < 7) return "memory read too short";
      const uint32_t address = (uint32_t(data[2]) << 16) | (uint32_t(data[3]) << 8) | data[4];
      const int length = (data[5] << 8) | data[6];
      ReadMemory(*state, data[1] & 0xFE, address, length, replies);
      char text[64];
      std::snprintf(text, sizeof text, "read %02x:%06x, %d bytes", data[1] & 0xFE, address, length);
      add(text);
      break;
    }
    case 0x16: {
      if (size < 7) return "register write too short";
      const uint8_t space = data[1] & 0xFE;  // bit 0 is the rumble
      const uint32_t address = (uint32_t(data[2]) << 16) | (uint32_t(data[3]) << 8) | data[4];
      int length = data[5];
      if (length > 16) length = 16;
      if (length > size - 6) length = size - 6;
      if (space == 0x04 && (address & 0xFFFF00) == 0xB00000) {
        for (int i = 0; i < length && (address & 0xFF) + i < 256; ++i) {
          state->cameraRegisters[(address & 0xFF) + i] = data[6 + i];
          state->cameraRegistersWritten[(address & 0xFF) + i] = true;
        }
      }
      char text[64];
      std::snprintf(text, sizeof text, "register %02x:%06x = %02x", space, address, data[6]);
      add(text);
      replies->push_back(Acknowledge(*state, number));
      break;
    }
    default:
      add("report " + Hex(number) + " ignored");
      return what;
  }
  // Bit 1 of the first byte asks for an acknowledgement of a report that has
  // no answer of its own.
  const bool answered = number == 0x15 || number == 0x16 || number == 0x17;
  if ((data[1] & 0x02) != 0 && !answered) {
    replies->push_back(Acknowledge(*state, number));
    add("acknowledged");
  }
  return what;
}

void BuildInputReport(RemoteState* state, uint8_t* report) {
  std::memset(report, 0, kInputReportSize);
  report[0] = state->mode;
  report[1] = state->buttons1;
  report[2] = state->buttons2;
  if (state->mode == 0x30) return;
  // Mode 0x36: ten camera bytes from byte 3, then nine of the extension port
  // (nothing plugged in: zeros).
  if (state->mode == 0x36) {
    PutCameraData(*state, report + 3, 10);
    return;
  }
  // A real accelerometer is never quite still: X and Y wander by one step.
  static const int kWander[] = {0, 1, 0, -1};
  const int wander = kWander[state->jitter++ % 4];
  report[3] = static_cast<uint8_t>(kAccelRest + wander);
  report[4] = static_cast<uint8_t>(kAccelRest - wander);
  report[5] = kAccelRestZ;
  if (state->mode == 0x31) return;
  // Mode 0x33: twelve camera bytes from byte 6; mode 0x37: ten, then six of
  // the extension port.
  PutCameraData(*state, report + 6, state->mode == 0x33 ? 12 : 10);
}

void ApplyStep(RemoteState* state, const Step& step) {
  switch (step.kind) {
    case Step::kButtons:
      state->buttons1 = step.buttons1;
      state->buttons2 = step.buttons2;
      break;
    case Step::kPoint:
      state->pointing = true;
      state->x = step.x;
      state->y = step.y;
      break;
    case Step::kNoPoints: state->pointing = false; break;
    case Step::kSilence: state->silent = true; break;
    case Step::kResume: state->silent = false; break;
    case Step::kDisconnect: state->disconnect = true; break;
    case Step::kStatus: state->statusDue = true; break;
  }
}

// The report descriptor: one vendor-defined collection with the output
// reports the tool sends and the input reports 0x20 to 0x3F, all of bytes.
std::vector<uint8_t> ReportDescriptor() {
  std::vector<uint8_t> d = {
      0x06, 0x00, 0xFF,  // Usage Page (vendor defined)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
  };
  struct OutputReport {
    uint8_t number;
    uint8_t payload;  // bytes after the number
  };
  // LEDs, report mode, camera enable, status request, register write, camera
  // enable 2.
  const OutputReport outputs[] = {{0x11, 1}, {0x12, 2}, {0x13, 1},
                                  {0x15, 1}, {0x16, 21}, {0x1A, 1}};
  for (const OutputReport& r : outputs) {
    const uint8_t item[] = {0x85, r.number, 0x95, r.payload, 0x09, 0x01, 0x91, 0x02};
    d.insert(d.end(), item, item + sizeof item);
  }
  for (int number = 0x20; number <= 0x3F; ++number) {
    const uint8_t item[] = {0x85, uint8_t(number), 0x95, vremote::kInputReportSize - 1,
                            0x09, 0x01, 0x81, 0x02};
    d.insert(d.end(), item, item + sizeof item);
  }
  d.push_back(0xC0);  // End Collection
  return d;
}

}  // namespace vremote
