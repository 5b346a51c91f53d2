// One remote, one tool: the backend's open through hidapi's interface, with
// the stand-in library (fake_hidapi.cpp, put in front by LD_LIBRARY_PATH)
// showing its remote as the nodes named in FAKE_HID_NODES, which the backend
// locks as it locks hidraw nodes. Two opens of one remote, in one process and
// in two; two remotes; a node that cannot be opened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/linux/linux_backend.h"
#include "platform/platform.h"

namespace {

constexpr uint16_t kVendor = 0x057E;
constexpr uint16_t kProduct = 0x0306;

class HidOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("FAKE_HID_SCRIPT");
    unsetenv("FAKE_HID_LOG");
    char pattern[] = "/tmp/trevanquill-hid-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override {
    linuxbackend::StopHid();
    unsetenv("FAKE_HID_NODES");
    for (const char* n : {"/a", "/b"}) unlink((dir_ + n).c_str());
    rmdir(dir_.c_str());
  }
  // The remotes: one node file each.
  void Remotes(const std::string& names) {
    std::string list;
    for (char n : names) {
      const std::string path = dir_ + "/" + n;
      close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
      list += (list.empty() ? "" : ":") + path;
    }
    setenv("FAKE_HID_NODES", list.c_str(), 1);
  }
  // Whether some descriptor holds the node's lock.
  bool Held(char name) {
    const int fd = open((dir_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return held;
  }
  std::string dir_;
};

TEST_F(HidOpen, ASecondOpenOfOneRemoteIsBusyUntilTheFirstCloses) {
  Remotes("a");
  const HidHandle first = platform::OpenHidHandle(kVendor, kProduct);
  ASSERT_GE(first, 0);
  EXPECT_TRUE(Held('a'));
  EXPECT_EQ(platform::OpenHidHandle(kVendor, kProduct), platform::kHidBusy);
  EXPECT_EQ(platform::OpenHidHandle(kVendor, kProduct), platform::kHidBusy);
  platform::CloseHidHandle(first);
  EXPECT_FALSE(Held('a'));
  const HidHandle again = platform::OpenHidHandle(kVendor, kProduct);
  EXPECT_GE(again, 0);
  platform::CloseHidHandle(again);
}

TEST_F(HidOpen, WithTwoRemotesTheSecondOpenTakesTheOther) {
  Remotes("ab");
  const HidHandle first = platform::OpenHidHandle(kVendor, kProduct);
  ASSERT_GE(first, 0);
  EXPECT_TRUE(Held('a'));
  EXPECT_FALSE(Held('b'));
  const HidHandle second = platform::OpenHidHandle(kVendor, kProduct);
  ASSERT_GE(second, 0);
  EXPECT_NE(second, first);
  EXPECT_TRUE(Held('b'));
  EXPECT_EQ(platform::OpenHidHandle(kVendor, kProduct), platform::kHidBusy);
  // Closing one frees that one only.
  platform::CloseHidHandle(first);
  EXPECT_FALSE(Held('a'));
  EXPECT_TRUE(Held('b'));
}

// The lock holds between processes, and the kernel drops it when a tool ends
// without closing (killed, or a crash).
TEST_F(HidOpen, AnotherProcessHoldingTheRemoteMakesItBusyUntilItEnds) {
  Remotes("a");
  int toChild[2], fromChild[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(fromChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const char opened = platform::OpenHidHandle(kVendor, kProduct) >= 0 ? 'y' : 'n';
    (void)!write(fromChild[1], &opened, 1);
    char go;
    (void)!read(toChild[0], &go, 1);
    _exit(0);  // no close
  }
  char opened = 0;
  ASSERT_EQ(read(fromChild[0], &opened, 1), 1);
  ASSERT_EQ(opened, 'y');
  EXPECT_EQ(platform::OpenHidHandle(kVendor, kProduct), platform::kHidBusy);
  ASSERT_EQ(write(toChild[1], "g", 1), 1);
  waitpid(child, nullptr, 0);
  EXPECT_GE(platform::OpenHidHandle(kVendor, kProduct), 0);
  for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
}

// A node that cannot be opened (gone, no access) is skipped, and does not
// count as busy.
TEST_F(HidOpen, ANodeThatCannotBeOpenedIsSkipped) {
  const std::string gone = dir_ + "/gone";
  Remotes("b");
  setenv("FAKE_HID_NODES", (gone + ":" + dir_ + "/b").c_str(), 1);
  const HidHandle handle = platform::OpenHidHandle(kVendor, kProduct);
  ASSERT_GE(handle, 0);
  EXPECT_TRUE(Held('b'));
  setenv("FAKE_HID_NODES", gone.c_str(), 1);
  EXPECT_EQ(platform::OpenHidHandle(kVendor, kProduct), -1);
}

}  // namespace
