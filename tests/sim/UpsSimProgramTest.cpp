// morlen-upssim as a program: the pseudo-terminal at line speed, the port link, the console
// and a clean end. These run in real time, so there are few of them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Apcups.h"
#include "Profile.h"
#include "UpsSimProcess.h"

namespace morlen::test {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The host end of the pseudo-terminal, raw.
class HostPort {
public:
    explicit HostPort(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios tio{};
            ::tcgetattr(fd_, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~HostPort() { close(); }
    bool isOpen() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    // Sends one command byte and collects what comes back until CR LF or the timeout;
    // `elapsed` is the time until the last byte.
    std::string ask(char command, std::chrono::milliseconds timeout = 500ms,
                    std::chrono::microseconds* elapsed = nullptr) {
        ::tcflush(fd_, TCIFLUSH);
        const auto start = Steady::now();
        EXPECT_EQ(::write(fd_, &command, 1), 1);
        std::string got;
        while (Steady::now() - start < timeout) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            char buf[64];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
                if (elapsed)
                    *elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() -
                                                                                     start);
                if (got.size() >= 2 && got.compare(got.size() - 2, 2, "\r\n") == 0)
                    break;
            }
        }
        return got;
    }

    // Whatever arrives within `timeout`, unprompted.
    std::string listen(std::chrono::milliseconds timeout) {
        std::string got;
        const auto start = Steady::now();
        while (Steady::now() - start < timeout) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            char buf[64];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int fd_ = -1;
};

// A fresh folder for XDG_CONFIG_HOME, removed at the end.
class TempFolder {
public:
    TempFolder() {
        char tmpl[] = "/tmp/morlen-upssim-test-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string RunShell(const std::string& commandLine, int& status) {
    std::string out;
    FILE* p = ::popen(commandLine.c_str(), "r");
    if (p == nullptr) {
        status = -1;
        return out;
    }
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr)
        out += buf;
    const int rc = ::pclose(p);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

TEST(UpsSimProgram, AnswersAtLineSpeedAfterTheLatency) {
    const struct {
        const char* latency;
        std::chrono::microseconds least;  // command byte, latency, four reply bytes
    } cases[] = {
        {"40", 4167us + 40ms + 4 * 4167us},
        {"5", 4167us + 5ms + 4 * 4167us},
    };
    for (const auto& c : cases) {
        UpsSimProcess sim({"--profile", "su1000", "--latency", c.latency});
        ASSERT_TRUE(sim.started()) << sim.error();
        HostPort host(sim.ptyPath());
        ASSERT_TRUE(host.isOpen());
        std::chrono::microseconds elapsed{0};
        EXPECT_EQ(host.ask('Y', 500ms, &elapsed), "SM\r\n");
        EXPECT_GE(elapsed, c.least - 500us) << c.latency;
        EXPECT_LT(elapsed, c.least + 60ms) << c.latency;  // generous: a shared machine
        EXPECT_EQ(host.ask(1), "SMART-UPS 1000\r\n");
    }
}

TEST(UpsSimProgram, PortLinkExistsWhileRunningAndGoesOnQuitAndOnSigterm) {
    for (const bool bySignal : {false, true}) {
        TempFolder xdg;
        const std::string link = xdg.path() + "/Pelloran/ports/COM3";
        UpsSimProcess sim({"--port", "COM3"}, {{"XDG_CONFIG_HOME", xdg.path()}});
        ASSERT_TRUE(sim.started()) << sim.error();
        ASSERT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link).string(), sim.ptyPath());
        HostPort host(link);
        EXPECT_EQ(host.ask('Y'), "SM\r\n");
        host.close();
        if (bySignal) {
            sim.signal(SIGTERM);
            EXPECT_EQ(sim.wait(), 0);
        } else {
            EXPECT_EQ(sim.stop(), 0);
        }
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << (bySignal ? "SIGTERM" : "quit");
    }
}

TEST(UpsSimProgram, TheUpsObjectOpensItByPortNameAndReadsIt) {
    TempFolder xdg;
    UpsSimProcess sim({"--profile", "su1000", "--port", "COM2"}, {{"XDG_CONFIG_HOME", xdg.path()}});
    ASSERT_TRUE(sim.started()) << sim.error();
    ::setenv("XDG_CONFIG_HOME", xdg.path().c_str(), 1);
    APCUPS ups;
    ASSERT_TRUE(ups.OpenPort("COM2"));
    EXPECT_TRUE(ups.CheckSmartMode());
    ups.family = FamilySmart;
    ups.ReadMeasurements();
    EXPECT_NEAR(ups.inputVoltage, 230.0f, 1.0f);
    EXPECT_EQ(ups.runTimeText.str(), "44");
    EXPECT_EQ(ups.lineFrequencyText.size(), 5u);
    EXPECT_GT(ups.batteryVoltage, 27.0f);
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(UpsSimProgram, EndOfInputEndsItAndRemovesTheLink) {
    TempFolder xdg;
    const std::string link = xdg.path() + "/ports-elsewhere/ups";
    int status = -1;
    const std::string out =
        RunShell("XDG_CONFIG_HOME=" + xdg.path() + " " + UpsSimProcess::binary() + " --link " +
                     link + " </dev/null",
                 status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.rfind("pty /dev/", 0), 0u) << out;
    EXPECT_TRUE(fs::is_directory(xdg.path() + "/ports-elsewhere"));  // folders made
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(UpsSimProgram, KeepsServingWhenTheHostClosesAndReopens) {
    UpsSimProcess sim({"--profile", "sc1000"});
    ASSERT_TRUE(sim.started()) << sim.error();
    for (int round = 0; round < 3; ++round) {
        HostPort host(sim.ptyPath());
        ASSERT_TRUE(host.isOpen());
        EXPECT_EQ(host.ask('Y'), "SM\r\n") << round;
        EXPECT_EQ(host.ask(1), "Smart-UPS SC1000\r\n") << round;
    }
}

TEST(UpsSimProgram, ConsoleCommandsDriveTheUnit) {
    TempFolder dir;
    const std::string tracePath = dir.path() + "/trace.txt";
    UpsSimProcess sim({"--trace", tracePath});
    ASSERT_TRUE(sim.started()) << sim.error();
    HostPort host(sim.ptyPath());
    EXPECT_EQ(host.ask('Y'), "SM\r\n");

    EXPECT_EQ(sim.command("unplug"), "ok unplug");
    EXPECT_EQ(host.ask('Y', 300ms), "");
    EXPECT_EQ(sim.command("plug"), "ok plug");
    EXPECT_EQ(host.ask('Y'), "SM\r\n");

    EXPECT_EQ(sim.command("alert ?"), "ok alert ?");
    EXPECT_EQ(host.listen(200ms), "?");

    EXPECT_EQ(sim.command("power fail"), "ok power fail");
    EXPECT_EQ(host.listen(200ms), "!");
    EXPECT_EQ(host.ask('Q'), "10\r\n");
    EXPECT_EQ(sim.command("power restore"), "ok power restore");
    EXPECT_EQ(host.listen(200ms), "$");
    EXPECT_EQ(host.ask('Q'), "08\r\n");

    EXPECT_EQ(sim.command("help"), "ok help");
    EXPECT_EQ(sim.command("fly"), "error unknown command: fly (try help)");
    EXPECT_EQ(sim.stop(), 0);

    std::ifstream trace(tracePath);
    std::string all((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("Y -> \"SM\\r\\n\""), std::string::npos) << all;
    EXPECT_NE(all.find("Y -> (silent) (unplugged)"), std::string::npos) << all;
    EXPECT_NE(all.find("Q -> \"10\\r\\n\""), std::string::npos) << all;
}

// A whole calibration in seconds: the battery runs 600 times faster, the line does not.
TEST(UpsSimProgram, TimeScaleAndConsoleRunACalibrationInSeconds) {
    UpsSimProcess sim({"--no-drift", "--time-scale", "600"});
    ASSERT_TRUE(sim.started()) << sim.error();
    HostPort host(sim.ptyPath());
    EXPECT_EQ(host.ask('Y'), "SM\r\n");
    EXPECT_EQ(sim.command("load 40"), "ok load 40");
    EXPECT_EQ(sim.command("battery capacity 1.2"), "ok battery capacity 1.2");
    EXPECT_EQ(host.ask('j'), "0026:\r\n");  // 42 min at 25 %, at 40 %
    // 1.2 * 26.25 min * 75 % = 23.6 min: 2.4 s at 600 times.
    const auto start = Steady::now();
    EXPECT_EQ(host.ask('D', 300ms), "!");
    EXPECT_EQ(host.ask('Q'), "11\r\n");
    EXPECT_NE(sim.command("status").find("calibrating"), std::string::npos);
    EXPECT_EQ(host.listen(1500ms), "");
    EXPECT_EQ(host.listen(2000ms), "$");
    const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
    EXPECT_GT(seconds, 2.0);
    EXPECT_EQ(host.ask('Q'), "08\r\n");
    EXPECT_NE(sim.command("status").find("stored run time 50.4 min"), std::string::npos)
        << sim.command("status");

    EXPECT_EQ(sim.command("line 190"), "ok line 190");
    EXPECT_EQ(host.ask('9'), "00\r\n");
    EXPECT_EQ(host.ask('L'), "190.0\r\n");
    EXPECT_EQ(sim.command("power fail H"), "ok power fail H");
    EXPECT_EQ(host.listen(200ms), "!");
    EXPECT_EQ(host.ask('G'), "H\r\n");
    EXPECT_EQ(sim.command("load 200"), "error unknown command: load 200 (try help)");
    EXPECT_EQ(sim.command("power fail X"), "error unknown command: power fail X (try help)");
    EXPECT_EQ(sim.stop(), 0);
}

TEST(UpsSimProgram, ListsProfilesAndRefusesUnknownOnes) {
    int status = -1;
    const std::string list = RunShell(UpsSimProcess::binary() + " --list-profiles", status);
    EXPECT_EQ(status, 0);
    for (const auto& p : sim::Profiles())
        EXPECT_NE(list.find(p.name + " "), std::string::npos) << p.name;

    RunShell(UpsSimProcess::binary() + " --profile nonesuch </dev/null 2>/dev/null", status);
    EXPECT_EQ(status, 2);
    RunShell(UpsSimProcess::binary() + " --port LPT1 </dev/null 2>/dev/null", status);
    EXPECT_NE(status, 0);
}

}  // namespace
}  // namespace morlen::test
