// Why a port did not open, as the termios port reports it, and the adapters it finds: each
// case stands in for what a technician meets (a missing adapter, a daemon holding the port, a
// user outside the device's group) on a pseudo-terminal and temporary folders.
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "AdapterPorts.h"
#include "Pty.h"
#include "TermiosPort.h"

namespace morlen::test {
namespace {

namespace fs = std::filesystem;
using Reason = OpenFailure::Reason;

// A process of another program ("sleep") that the test ends again.
struct OtherProgram {
    pid_t pid = -1;
    // With `device`, the program has that device open, as a daemon using it would, and holds
    // an exclusive flock on it when `flockIt`.
    explicit OtherProgram(const std::string& device = {}, bool flockIt = true) {
        pid = ::fork();
        if (pid == 0) {
            // Only what it opens itself: not the test's own pseudo-terminal.
            for (int fd = 3; fd < 1024; ++fd)
                ::close(fd);
            if (!device.empty()) {
                const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                if (fd < 0 || (flockIt && ::flock(fd, LOCK_EX | LOCK_NB) != 0))
                    ::_exit(2);
            }
            ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Until exec has happened the kernel still knows it by our name.
        for (int i = 0; i < 200 && name() != "sleep"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::string name() const {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string n;
        std::getline(comm, n);
        return n;
    }
    ~OtherProgram() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

class PortFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("morlen-failure-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root_ / "lock");
        TermiosPort::setLockDirectory((root_ / "lock").string());
        ASSERT_FALSE(pty_.path.empty());
    }
    void TearDown() override {
        TermiosPort::setLockDirectory("/run/lock");
        fs::remove_all(root_);
    }
    std::string lockFileFor(const std::string& device) const {
        return (root_ / "lock" / ("LCK.." + fs::path(device).filename().string())).string();
    }
    OpenFailure openFailure(const std::string& name) {
        TermiosPort port(systemClock());
        EXPECT_FALSE(port.open(name)) << name;
        return port.lastOpenFailure();
    }

    fs::path root_;
    Pty pty_;
};

TEST_F(PortFailureTest, NothingAtTheNameIsNoDevice) {
    const struct {
        std::string name;
        std::string device;
    } rows[] = {
        {"COM9", "COM9"},
        {"", ""},
        {(root_ / "ttyUSB7").string(), (root_ / "ttyUSB7").string()},
        {"/dev/ttyUSB-none-such", "/dev/ttyUSB-none-such"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const OpenFailure f = openFailure(row.name);
        EXPECT_EQ(f.reason, Reason::NoDevice);
        EXPECT_EQ(f.device, row.device);
    }
}

// A holder is named only while it has the port: a lock file's process that does not have the
// device open (its number given to another program since) keeps the port refused, unnamed.
TEST_F(PortFailureTest, TheProgramHoldingThePortIsNamedOnlyWhileItHoldsIt) {
    const struct {
        const char* what;
        bool lockFile, deviceOpen, flock, named;
    } rows[] = {
        {"lock file, device open", true, true, false, true},
        {"lock file, device not open", true, false, false, false},
        {"exclusive lock, no lock file", false, true, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        OtherProgram daemon(row.deviceOpen ? pty_.path : std::string(), row.flock);
        ASSERT_EQ(daemon.name(), "sleep");
        if (row.lockFile) {
            std::ofstream lock(lockFileFor(pty_.path));
            char text[16];
            std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(daemon.pid));
            lock << text;
        }
        const OpenFailure f = openFailure(pty_.path);
        EXPECT_EQ(f.reason, Reason::HeldByOther);
        EXPECT_EQ(f.device, pty_.path);
        EXPECT_EQ(f.holder, row.named ? "sleep" : "");
        EXPECT_EQ(f.holderPid, row.named ? daemon.pid : 0);
        if (row.lockFile) {
            EXPECT_TRUE(fs::exists(lockFileFor(pty_.path)))
                << "another program's lock is left alone";
            fs::remove(lockFileFor(pty_.path));
        }
    }
}

TEST_F(PortFailureTest, ADeviceOutsideTheUsersGroupsIsPermissionDenied) {
    // A device the user may not open: as root the check runs in a child that has become
    // "nobody", otherwise the device loses its owner's rights.
    struct stat st {};
    ASSERT_EQ(::stat(pty_.path.c_str(), &st), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        if (const group* dialout = ::getgrnam("dialout")) {
            ASSERT_EQ(::chown(pty_.path.c_str(), 0, dialout->gr_gid), 0);
        }
        ASSERT_EQ(::chmod(pty_.path.c_str(), 0660), 0);
    } else {
        ASSERT_EQ(::chmod(pty_.path.c_str(), 0), 0);
    }
    ASSERT_EQ(::stat(pty_.path.c_str(), &st), 0);
    const std::string expectedGroup = ::getgrgid(st.st_gid)->gr_name;
    const std::string expectedOwner = ::getpwuid(st.st_uid)->pw_name;
    const unsigned expectedMode = st.st_mode & 07777;

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (root) {
            const passwd* nobody = ::getpwnam("nobody");
            const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(uid) != 0)
                ::_exit(3);
        }
        TermiosPort port(systemClock());
        const bool opened = port.open(pty_.path);
        const OpenFailure f = port.lastOpenFailure();
        const std::string report = std::string(opened ? "opened" : "failed") + "\n" +
                                   std::to_string(int(f.reason)) + "\n" + f.device + "\n" +
                                   f.owner + "\n" + f.group + "\n" + std::to_string(f.mode) + "\n";
        (void)!::write(pipeFds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buf[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
        report.append(buf, std::size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(pty_.path.c_str(), 0620);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(report, "failed\n" + std::to_string(int(Reason::PermissionDenied)) + "\n" +
                          pty_.path + "\n" + expectedOwner + "\n" + expectedGroup + "\n" +
                          std::to_string(expectedMode) + "\n");
}

TEST_F(PortFailureTest, AnyOtherErrorCarriesTheSystemsMessage) {
    const OpenFailure f = openFailure(root_.string());  // a folder, not a device
    EXPECT_EQ(f.reason, Reason::Other);
    EXPECT_EQ(f.device, root_.string());
    EXPECT_EQ(f.message, std::strerror(EISDIR));
}

TEST_F(PortFailureTest, ASuccessfulOpenClearsTheReason) {
    TermiosPort port(systemClock());
    EXPECT_FALSE(port.open(root_.string() + "/none"));
    EXPECT_EQ(port.lastOpenFailure().reason, Reason::NoDevice);
    ASSERT_TRUE(port.open(pty_.path));
    EXPECT_EQ(port.lastOpenFailure().reason, Reason::None);
}

// ---- Adapters ----

class AdapterPortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("morlen-adapters-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "sys/class/tty");
        ASSERT_FALSE(pty_.path.empty());
    }
    void TearDown() override { fs::remove_all(root_); }
    // A pseudo-terminal standing in for an adapter in the device folder.
    void plug(const std::string& name) { fs::create_symlink(pty_.path, root_ / "dev" / name); }
    // Its sysfs entry: the tty's device folder below a USB device that names maker and product.
    void describe(const std::string& name, const std::string& below, const std::string& maker,
                  const std::string& product) {
        const fs::path usb = root_ / "sys/devices/pci0000:00/usb1/1-2";
        const fs::path node = usb / below;
        fs::create_directories(node);
        if (!maker.empty())
            std::ofstream(usb / "manufacturer") << maker << "\n";
        std::ofstream(usb / "product") << product << "\n";
        fs::create_directories(root_ / "sys/class/tty" / name);
        fs::create_directory_symlink(node, root_ / "sys/class/tty" / name / "device");
    }
    std::vector<AdapterPort> list() const {
        return ListAdapterPorts((root_ / "dev").string(), (root_ / "sys").string());
    }

    fs::path root_;
    Pty pty_;
};

TEST_F(AdapterPortsTest, UsbThenAcmInNumberOrderWithMakerAndProduct) {
    for (const char* name : {"ttyACM0", "ttyUSB10", "ttyUSB2", "ttyS0", "ttyUSBx", "tty"})
        plug(name);
    std::ofstream(root_ / "dev/ttyUSB3") << "a plain file is no device";
    describe("ttyUSB2", "1-2:1.0/ttyUSB2", "FTDI", "FT232R USB UART");
    const auto ports = list();
    ASSERT_EQ(ports.size(), 3u);
    const struct {
        const char* name;
        const char* maker;
        const char* product;
    } expected[] = {
        {"ttyUSB2", "FTDI", "FT232R USB UART"},
        {"ttyUSB10", "", ""},
        {"ttyACM0", "", ""},
    };
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(ports[i].name, expected[i].name);
        EXPECT_EQ(ports[i].path, (root_ / "dev" / expected[i].name).string());
        EXPECT_EQ(ports[i].maker, expected[i].maker);
        EXPECT_EQ(ports[i].product, expected[i].product);
    }
}

TEST_F(AdapterPortsTest, AnAcmDeviceFindsItsUsbDeviceAboveTheInterface) {
    plug("ttyACM1");
    describe("ttyACM1", "1-2:1.0", "", "USB Serial Bridge");
    const auto ports = list();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].maker, "");
    EXPECT_EQ(ports[0].product, "USB Serial Bridge");
}

TEST_F(AdapterPortsTest, EachCallSeesAdaptersPluggedAndPulledSinceTheLast) {
    EXPECT_TRUE(list().empty());
    plug("ttyUSB0");
    ASSERT_EQ(list().size(), 1u);
    fs::remove(root_ / "dev/ttyUSB0");
    EXPECT_TRUE(list().empty());
    EXPECT_TRUE(ListAdapterPorts((root_ / "no-such-folder").string(), "/sys").empty());
}

}  // namespace
}  // namespace morlen::test
