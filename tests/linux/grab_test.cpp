// Which event nodes the tool grabs: found through sysfs from the hidraw node,
// here a tree laid out as the kernel lays it out for the remote when its own
// driver has bound it (seen in the VM test): three input devices under the
// HID device, the buttons with keys only, the accelerometer and the camera
// with absolute axes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "platform/linux/linux_backend.h"

namespace {

class SysfsTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/trevanquill-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

  void MakeDirs(const std::string& relative) {
    std::string path = root_;
    size_t start = 0;
    while (start < relative.size()) {
      const size_t slash = relative.find('/', start);
      path += "/" + relative.substr(start, slash - start);
      mkdir(path.c_str(), 0755);
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
  }
  // An input device of hidrawName's HID device with this ev bitmask and node.
  void Input(const std::string& hidraw, const std::string& input, const char* ev,
             const std::string& node) {
    const std::string dir = "class/hidraw/" + hidraw + "/device/input/" + input;
    MakeDirs(dir + "/capabilities");
    if (!node.empty()) MakeDirs(dir + "/" + node);
    std::ofstream(root_ + "/" + dir + "/capabilities/ev") << ev << "\n";
  }
  std::set<std::string> Found(const char* hidraw, int max = linuxbackend::kMaxGrabNodes) {
    char names[linuxbackend::kMaxGrabNodes][linuxbackend::kNodeNameSize];
    const int n = linuxbackend::FindButtonNodes(root_.c_str(), hidraw, names, max);
    return std::set<std::string>(names, names + n);
  }

  std::string root_;
};

TEST_F(SysfsTree, TheDriversButtonDeviceAndNotItsAxes) {
  Input("hidraw0", "input2", "200003", "event3");  // buttons: SYN, KEY, FF
  Input("hidraw0", "input3", "9", "event1");       // accelerometer: SYN, ABS
  Input("hidraw0", "input4", "9", "event2");       // camera
  Input("hidraw0", "input5", "b", "event4");       // an extension: keys and axes
  EXPECT_EQ(Found("hidraw0"), (std::set<std::string>{"event3"}));
}

TEST_F(SysfsTree, NothingWithoutTheDriver) {
  // The generic driver makes no input device for the remote's reports.
  MakeDirs("class/hidraw/hidraw1/device");
  EXPECT_TRUE(Found("hidraw1").empty());
  EXPECT_TRUE(Found("hidraw9").empty()) << "no such node";
}

TEST_F(SysfsTree, OnlyTheRemotesOwnDevicesAndAtMostMax) {
  Input("hidraw0", "input2", "200003", "event3");
  Input("hidraw1", "input7", "200003", "event8");  // another remote
  Input("hidraw0", "input6", "3", "");             // no event node (no evdev)
  EXPECT_EQ(Found("hidraw0"), (std::set<std::string>{"event3"}));
  Input("hidraw0", "input9", "3", "event9");
  EXPECT_EQ(Found("hidraw0").size(), 2u);
  EXPECT_EQ(Found("hidraw0", 1).size(), 1u);
}

TEST_F(SysfsTree, ANodeThatCannotBeGrabbedGetsOneWarningLineAndTheRunGoesOn) {
  Input("hidraw0", "input2", "200003", "event3");
  Input("hidraw0", "input5", "200003", "event4");
  // event3 opens but is no input device (the grab fails); event4 is missing.
  const std::string dev = root_ + "/dev";
  MakeDirs("dev");
  std::ofstream(dev + "/event3") << "";
  ::testing::internal::CaptureStderr();
  const int grabbed = linuxbackend::GrabButtonNodesUnder(root_.c_str(), dev.c_str(), 0,
                                                         "/dev/hidraw0");
  const std::string err = ::testing::internal::GetCapturedStderr();
  linuxbackend::ReleaseButtonNodes(0);
  EXPECT_EQ(grabbed, 0);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
  EXPECT_NE(err.find("trevanquill: cannot grab " + dev + "/event3 ("), std::string::npos) << err;
  EXPECT_NE(err.find("trevanquill: cannot grab " + dev + "/event4 (No such file or directory)"),
            std::string::npos)
      << err;
}

TEST_F(SysfsTree, NoPathNoGrabAndNoWord) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(linuxbackend::GrabButtonNodesUnder(root_.c_str(), root_.c_str(), 0, nullptr), 0);
  EXPECT_EQ(linuxbackend::GrabButtonNodesUnder(root_.c_str(), root_.c_str(), 0, "/dev/hidraw0"), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
