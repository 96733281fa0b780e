// The tty port on pseudo-terminals: a released port is left as it was found,
// so a later run of any user can open it.
#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "download/serial_port.h"
#include "download/transport.h"
#include "platform/timing.h"

namespace {

// Runs body in a child process as the user "nobody" (when the test runs as
// root; otherwise as the user it runs as) and returns the child's exit status.
int AsUnprivilegedUser(int (*body)()) {
  uid_t uid = ::geteuid();
  gid_t gid = ::getegid();
  if (uid == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) return -1;
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
  }
  pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

// A pseudo-terminal pair of the calling user; the master stays open.
std::string OpenPty(int* master) {
  *master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || ::grantpt(*master) != 0 || ::unlockpt(*master) != 0) return "";
  return ::ptsname(*master);
}

}  // namespace

TEST(TtyPort, AReleasedPortOpensAgainForAnUnprivilegedUser) {
  int status = AsUnprivilegedUser([] {
    if (::geteuid() == 0) return 101;
    int master = -1;
    std::string slave = OpenPty(&master);
    if (slave.empty()) return 102;
    std::unique_ptr<SerialPort> port;
    if (OpenSerialPort(slave, &port) != S_OK) return 1;
    std::unique_ptr<SerialPort> second;
    if (OpenSerialPort(slave, &second) == S_OK) return 2;  // exclusive while it is held
    port.reset();
    if (OpenSerialPort(slave, &port) != S_OK) return 3;  // and free again once released
    return 0;
  });
  EXPECT_EQ(status, 0);
}

// An open that fails because another run holds the port leaves that run's
// port exclusive.
TEST(TtyPort, AFailedOpenLeavesTheHolderExclusive) {
  int status = AsUnprivilegedUser([] {
    int master = -1;
    std::string slave = OpenPty(&master);
    if (slave.empty()) return 102;
    std::unique_ptr<SerialPort> holder, other;
    if (OpenSerialPort(slave, &holder) != S_OK) return 1;
    if (OpenSerialPort(slave, &other) == S_OK) return 2;
    if (OpenSerialPort(slave, &other) == S_OK) return 3;
    int plain = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (plain >= 0) return 4;  // another program is still kept out
    holder.reset();
    if (OpenSerialPort(slave, &other) != S_OK) return 5;
    return 0;
  });
  EXPECT_EQ(status, 0);
}

// Root passes TIOCEXCL: a second run of root finds the port by its lock and
// must not clear the holder's flag on its way out.
TEST(TtyPort, ASecondRunOfRootLeavesTheHolderExclusive) {
  if (::geteuid() != 0) GTEST_SKIP() << "the case of root";
  int master = -1;
  std::string slave = OpenPty(&master);
  ASSERT_FALSE(slave.empty());
  std::unique_ptr<SerialPort> holder, other;
  ASSERT_EQ(OpenSerialPort(slave, &holder), S_OK);
  EXPECT_EQ(OpenSerialPort(slave, &other), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  ::chmod(slave.c_str(), 0666);
  static std::string path;
  path = slave;
  EXPECT_EQ(AsUnprivilegedUser([] {
              int plain = ::open(path.c_str(), O_RDWR | O_NOCTTY);
              return plain < 0 && errno == EBUSY ? 0 : 1;
            }),
            0);
  ::close(master);
}

// A read request waits the time it is given for its byte, no longer.
// A phone that speaks before the port is raw has its bytes edited and echoed
// by the tty's line discipline (here a Sahara HELLO, whose 0x04 is a
// terminal's end-of-file key): they are dropped at the open, never read as
// the phone's words; what comes after is read as sent.
TEST(TtyPort, BytesFromBeforeThePortWasRawAreDropped) {
  int master = -1;
  std::string slave = OpenPty(&master);
  ASSERT_FALSE(slave.empty());
  const unsigned char hello[] = {0x01, 0, 0, 0, 0x30, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0, 0, 0, 0x00, 0x04, 0, 0};
  ASSERT_EQ(::write(master, hello, sizeof hello), static_cast<ssize_t>(sizeof hello));
  pollfd echoed{master, POLLIN, 0};
  ASSERT_EQ(::poll(&echoed, 1, 5000), 1) << "the tty took the bytes in (and echoed them)";
  std::unique_ptr<SerialPort> port;
  ASSERT_EQ(OpenSerialPort(slave, &port), S_OK);
  unsigned char byte = 0;
  EXPECT_EQ(port->ReadByte(&byte, 200), kReadTimeout) << "read 0x" << std::hex << int{byte};
  const unsigned char after = 0x01;
  ASSERT_EQ(::write(master, &after, 1), 1);
  EXPECT_EQ(port->ReadByte(&byte, 5000), S_OK);
  EXPECT_EQ(byte, 0x01);
  port.reset();
  ::close(master);
}

TEST(TtyPort, AReadWaitsItsTimeOut) {
  int master = -1;
  std::string slave = OpenPty(&master);
  ASSERT_FALSE(slave.empty());
  std::unique_ptr<SerialPort> port;
  ASSERT_EQ(OpenSerialPort(slave, &port), S_OK);
  unsigned char byte = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->ReadByte(&byte, 40), kReadTimeout);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(40));
  EXPECT_LT(took, std::chrono::milliseconds(900));
  std::thread late([master] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    unsigned char b = 0x5A;
    EXPECT_EQ(::write(master, &b, 1), 1);
  });
  EXPECT_EQ(port->ReadByte(&byte, 5000), S_OK);
  EXPECT_EQ(byte, 0x5A);
  late.join();
  port.reset();
  ::close(master);
}

// A port that never stops talking (bytes without a flag) and a port that
// stays silent under a long time-out both give up within a slice of 100 ms
// once the thread's work is asked to stop.
TEST(TtyPort, AStopIsSeenWithinASliceWhateverThePhoneSends) {
  for (bool talking : {true, false}) {
    int master = -1;
    std::string slave = OpenPty(&master);
    ASSERT_FALSE(slave.empty());
    std::atomic<bool> done{false};
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    std::thread phone([&] {
      const std::vector<unsigned char> noise(4096, 0x55);
      while (talking && !done) {
        if (::write(master, noise.data(), noise.size()) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    std::unique_ptr<SerialPort> port;
    ASSERT_EQ(OpenSerialPort(slave, &port), S_OK);
    std::stop_source stop;
    std::chrono::steady_clock::time_point asked;
    HRESULT result = S_OK;
    std::thread worker([&] {
      ScopedStopToken token(stop.get_token());
      unsigned char buffer[16];
      result = ReceivePacket(*port, buffer, sizeof buffer, false, kIgnoreNothing);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the receive is under way
    asked = std::chrono::steady_clock::now();
    stop.request_stop();
    worker.join();
    auto took = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_CANCELLED)) << (talking ? "talking" : "silent");
    EXPECT_LT(took, std::chrono::milliseconds(600)) << (talking ? "talking" : "silent");
    done = true;
    phone.join();  // the phone's writes end before its descriptor is closed
    port.reset();
    ::close(master);
  }
}

// A phone that leaves reads as gone at once, not as a read that waits out
// its time-out.
TEST(TtyPort, APortWhosePhoneLeftReadsAsGoneAtOnce) {
  int master = -1;
  std::string slave = OpenPty(&master);
  ASSERT_FALSE(slave.empty());
  std::unique_ptr<SerialPort> port;
  ASSERT_EQ(OpenSerialPort(slave, &port), S_OK);
  ::close(master);
  unsigned char byte = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->ReadByte(&byte, 5000), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}
