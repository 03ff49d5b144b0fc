// The termios port on a real pseudo-terminal: name resolution, exclusive open, the line
// settings, real-time reads and a device that disappears.
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "Pty.h"
#include "TermiosPort.h"

namespace morlen::test {
namespace {

namespace fs = std::filesystem;

// A private config and lock folder per test, so the technician's files are never touched.
class TermiosPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("morlen-port-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root_ / "lock");
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        TermiosPort::setLockDirectory((root_ / "lock").string());
        ASSERT_FALSE(pty_.path.empty());
        int flags = ::fcntl(pty_.master, F_GETFL);
        ::fcntl(pty_.master, F_SETFL, flags | O_NONBLOCK);
    }
    void TearDown() override {
        TermiosPort::setLockDirectory("/run/lock");
        fs::remove_all(root_);
    }
    std::string lockFileFor(const std::string& device) const {
        return (root_ / "lock" / ("LCK.." + fs::path(device).filename().string())).string();
    }

    fs::path root_;
    Pty pty_;
};

TEST_F(TermiosPortTest, ComNamesResolveToTheirLinkOrTheSerialDevice) {
    EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortName("COM4"), "/dev/ttyS3");
    EXPECT_EQ(ResolvePortName("COM5"), "");
    EXPECT_EQ(ResolvePortName("ttyS0"), "");
    EXPECT_EQ(ResolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    fs::create_directories(root_ / "config/Pelloran/ports");
    fs::create_symlink(pty_.path, root_ / "config/Pelloran/ports/COM2");
    EXPECT_EQ(ResolvePortName("COM2"), (root_ / "config/Pelloran/ports/COM2").string());
    EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
}

TEST_F(TermiosPortTest, OpensThroughTheComLinkWithTheLineSettings) {
    fs::create_directories(root_ / "config/Pelloran/ports");
    fs::create_symlink(pty_.path, root_ / "config/Pelloran/ports/COM3");
    TermiosPort port(systemClock());
    ASSERT_TRUE(port.open("COM3"));
    ASSERT_TRUE(port.configure());
    termios t{};
    ASSERT_EQ(::tcgetattr(pty_.slave, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B2400);
    EXPECT_EQ(::cfgetispeed(&t), B2400);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    // The lock file names the device the link points to, with our pid in 10 characters.
    std::ifstream lock(lockFileFor(pty_.path));
    std::string text((std::istreambuf_iterator<char>(lock)), {});
    EXPECT_EQ(text, std::string(10 - std::to_string(::getpid()).size(), ' ') +
                        std::to_string(::getpid()) + "\n");
    EXPECT_TRUE(port.close());
    EXPECT_FALSE(fs::exists(lockFileFor(pty_.path))) << "released on close";
}

TEST_F(TermiosPortTest, PortHeldByAnotherProcessDoesNotOpen) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        TermiosPort holder(systemClock());
        const char ok = holder.open(pty_.path) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    TermiosPort port(systemClock());
    EXPECT_FALSE(port.open(pty_.path));
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    // The holder died without cleaning up: its lock is stale now and is taken over.
    EXPECT_TRUE(fs::exists(lockFileFor(pty_.path)));
    EXPECT_TRUE(port.open(pty_.path));
}

TEST_F(TermiosPortTest, FlockAloneKeepsASecondOpenOut) {
    TermiosPort::setLockDirectory((root_ / "no-such-folder").string());
    TermiosPort first(systemClock());
    TermiosPort second(systemClock());
    ASSERT_TRUE(first.open(pty_.path));
    EXPECT_FALSE(second.open(pty_.path));
    first.close();
    EXPECT_TRUE(second.open(pty_.path));
}

TEST_F(TermiosPortTest, ReadsAnswerAndDropNulBytes) {
    TermiosPort port(systemClock());
    ASSERT_TRUE(port.open(pty_.path));
    ASSERT_TRUE(port.configure());
    port.setTimeouts(PortTimeouts{});
    ASSERT_TRUE(port.writeByte('Y'));
    EXPECT_EQ(pty_.receive(), "Y");
    pty_.send(std::string("S\0M\r\nXX", 7));
    std::uint8_t buf[16] = {};
    const auto start = std::chrono::steady_clock::now();
    const std::size_t n = port.read(buf, 4);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "SM\r\n");
    EXPECT_LT(ms, 100) << "returns on CR LF, no timeout";
}

TEST_F(TermiosPortTest, SilenceEndsTheReadAfterTheTotalTimeout) {
    TermiosPort port(systemClock());
    ASSERT_TRUE(port.open(pty_.path));
    port.configure();
    port.setTimeouts(PortTimeouts{});
    std::uint8_t buf[8];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.read(buf, 4), 0u);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_GE(ms, 148);
    EXPECT_LT(ms, 400);
}

TEST_F(TermiosPortTest, PurgeDropsWhatArrivedBefore) {
    TermiosPort port(systemClock());
    ASSERT_TRUE(port.open(pty_.path));
    port.configure();
    pty_.send("!!$");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port.purgeReceive();
    pty_.send("OK\r\n");
    std::uint8_t buf[8];
    const std::size_t n = port.read(buf, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "OK\r\n");
}

TEST_F(TermiosPortTest, VanishedDeviceEndsTheReadAtOnce) {
    TermiosPort port(systemClock());
    ASSERT_TRUE(port.open(pty_.path));
    port.configure();
    port.setTimeouts(PortTimeouts{600, 22, 60, 0, 0});
    // Pull the cable: the master side goes away.
    ::close(pty_.master);
    pty_.master = -1;
    ::close(pty_.slave);
    pty_.slave = -1;
    std::uint8_t buf[1002];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.read(buf, sizeof buf), 0u);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_LT(ms, 100) << "no wait for the 22 s timeout, no busy loop";
    port.writeByte('Y');  // must not crash or block
    EXPECT_TRUE(port.close());
}

}  // namespace
}  // namespace morlen::test
