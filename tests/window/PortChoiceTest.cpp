// The port choice on a Linux machine: adapters found afresh each time the list opens, chosen
// by their whole path, and the reason shown when a port does not open. Pseudo-terminals in
// temporary folders stand in for adapters; the machine's own devices play no part.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QComboBox>
#include <QPointer>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

#include "PortFailureText.h"
#include "TermiosPort.h"
#include "Unit1.h"
#include "UpsSimProcess.h"

namespace {

namespace fs = std::filesystem;
using morlen::OpenFailure;

class PortChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        root = dir.path().toStdString();
        fs::create_directories(root / "dev");
        fs::create_directories(root / "sys/class/tty");
        fs::create_directories(root / "lock");
        morlen::TermiosPort::setLockDirectory((root / "lock").string());
        form = new TForm1;
        form->portDeviceFolder = QString::fromStdString((root / "dev").string());
        form->portSysfsRoot = QString::fromStdString((root / "sys").string());
        form->errorBox = [this](const QString& text, const QString& reason) {
            errors.emplace_back(text, reason);
        };
    }
    void TearDown() override {
        QPointer<TForm1> guard(form);
        form->close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return guard.isNull(); }, 30000));
        morlen::TermiosPort::setLockDirectory("/run/lock");
    }
    QComboBox* ports() const { return form->ui->ComboBox1; }
    // What the technician sees on opening the list.
    QStringList openList() const {
        ports()->showPopup();
        ports()->hidePopup();
        QStringList items;
        for (int i = 0; i < ports()->count(); ++i)
            items << ports()->itemText(i);
        return items;
    }
    void choose(const QString& item) {
        ports()->setCurrentIndex(ports()->findText(item));
        ASSERT_GE(ports()->currentIndex(), 0) << item.toStdString();
        form->ComboBox1Change();
    }
    // A pseudo-terminal's slave standing in for an adapter.
    std::string ptySlave() {
        int master = -1, slave = -1;
        char name[128];
        EXPECT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        ptyFds.push_back(master);
        ptyFds.push_back(slave);
        return name;
    }
    ~PortChoiceTest() override {
        for (int fd : ptyFds)
            ::close(fd);
    }

    QTemporaryDir dir;
    fs::path root;
    TForm1* form = nullptr;
    std::vector<std::pair<QString, QString>> errors;
    std::vector<int> ptyFds;
};

TEST_F(PortChoiceTest, AdaptersFollowTheComPortsAndAreReadAgainEachTimeTheListOpens) {
    const QStringList com = {"COM1", "COM2", "COM3", "COM4"};
    EXPECT_EQ(openList(), com);

    // Plugged in after the window opened: it is there the next time the list opens.
    fs::create_symlink(ptySlave(), root / "dev/ttyUSB0");
    fs::create_symlink(ptySlave(), root / "dev/ttyACM0");
    const fs::path usb = root / "sys/devices/usb1/1-2";
    fs::create_directories(usb / "1-2:1.0/ttyUSB0");
    std::ofstream(usb / "manufacturer") << "FTDI\n";
    std::ofstream(usb / "product") << "FT232R USB UART\n";
    fs::create_directories(root / "sys/class/tty/ttyUSB0");
    fs::create_directory_symlink(usb / "1-2:1.0/ttyUSB0", root / "sys/class/tty/ttyUSB0/device");
    EXPECT_EQ(openList(), com + QStringList({"ttyUSB0", "ttyACM0"}));

    const QString usbPath = QString::fromStdString((root / "dev/ttyUSB0").string());
    const QString acmPath = QString::fromStdString((root / "dev/ttyACM0").string());
    EXPECT_EQ(ports()->itemData(4, Qt::ToolTipRole).toString(), usbPath + "\nFTDI FT232R USB UART");
    EXPECT_EQ(ports()->itemData(5, Qt::ToolTipRole).toString(), acmPath);

    // The short name fits the box's text field; the whole path would not.
    QStyleOptionComboBox option;
    option.initFrom(ports());
    const QRect field = ports()->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                         QStyle::SC_ComboBoxEditField, ports());
    const QFontMetrics metrics(ports()->font());
    EXPECT_LE(metrics.horizontalAdvance(QStringLiteral("ttyUSB0")), field.width());

    // A chosen adapter stays chosen while it is there; pulled out, it leaves the list.
    ports()->setCurrentIndex(5);
    fs::remove(root / "dev/ttyUSB0");
    EXPECT_EQ(openList(), com + QStringList({"ttyACM0"}));
    EXPECT_EQ(ports()->currentText(), QStringLiteral("ttyACM0"));
    fs::remove(root / "dev/ttyACM0");
    EXPECT_EQ(openList(), com);
    EXPECT_EQ(ports()->currentIndex(), -1);
}

TEST_F(PortChoiceTest, ChoosingAnAdapterConnectsThroughItsWholePath) {
    const std::string link = (root / "dev/ttyUSB3").string();
    morlen::test::UpsSimProcess sim(
        {"--profile", "su1000", "--latency", "10", "--no-drift", "--link", link});
    ASSERT_TRUE(sim.started()) << sim.error();
    EXPECT_EQ(openList().last(), QStringLiteral("ttyUSB3"));
    choose(QStringLiteral("ttyUSB3"));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(form->statusText(), form->textConnected);
    EXPECT_EQ(form->ui->Model->text(), QStringLiteral("SMART-UPS 1000"));
}

// A program that is not Morlen ("sleep"), standing in for a monitoring daemon that has
// `device` open.
struct OtherProgram {
    pid_t pid = ::fork();
    explicit OtherProgram(const std::string& device) {
        if (pid == 0) {
            if (::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) < 0)
                ::_exit(2);
            ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200 && name() != "sleep"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~OtherProgram() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    std::string name() const {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string n;
        std::getline(comm, n);
        return n;
    }
};

TEST_F(PortChoiceTest, TheErrorBoxSaysWhyThePortDidNotOpen) {
    // Pulled out between opening the list and choosing it.
    fs::create_symlink(ptySlave(), root / "dev/ttyUSB0");
    openList();
    fs::remove(root / "dev/ttyUSB0");
    choose(QStringLiteral("ttyUSB0"));

    // Held by another program, as its lock file says.
    const std::string held = ptySlave();
    fs::create_symlink(held, root / "dev/ttyUSB1");
    OtherProgram daemon(held);
    ASSERT_EQ(daemon.name(), "sleep");
    {
        char text[16];
        std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(daemon.pid));
        std::ofstream(root / "lock" / ("LCK.." + fs::path(held).filename().string())) << text;
    }
    openList();
    choose(QStringLiteral("ttyUSB1"));

    const QString pulled = QString::fromStdString((root / "dev/ttyUSB0").string());
    const std::vector<std::pair<QString, QString>> expected = {
        {form->textPortOpenFailed,
         "There is no device " + pulled +
             ": the adapter is not plugged in, or the name points nowhere."},
        {form->textPortOpenFailed,
         QString::fromStdString(held) + QStringLiteral(" is in use by sleep (process %1), for "
                                                       "example a UPS monitoring daemon. Stop it "
                                                       "first, then choose the port again.")
                                            .arg(daemon.pid)},
    };
    EXPECT_EQ(errors, expected);
    EXPECT_TRUE(form->ui->ComboBox1->isEnabled()) << "the window stays as it was";
}

TEST(OpenFailureText, EachReasonInWordsTheTechnicianCanActOn) {
    const auto failure = [](OpenFailure::Reason reason, const char* device = "/dev/ttyUSB0",
                            const char* group = "", unsigned mode = 0, const char* holder = "",
                            long pid = 0) {
        OpenFailure f;
        f.reason = reason;
        f.device = device;
        f.owner = "root";
        f.group = group;
        f.mode = mode;
        f.holder = holder;
        f.holderPid = pid;
        return f;
    };
    const auto permission = [&](const char* group, unsigned mode, const char* device = "/dev/x") {
        return failure(OpenFailure::Reason::PermissionDenied, device, group, mode);
    };
    const auto held = [&](const char* device, const char* holder, long pid) {
        return failure(OpenFailure::Reason::HeldByOther, device, "", 0, holder, pid);
    };
    OpenFailure other = failure(OpenFailure::Reason::Other, "/dev/%1");
    other.message = "Input/output error %2";
    const auto join = [](const QString& device, const QString& group) {
        return "You have no permission to use " + device + ". Add your user to its group \"" +
               group + "\" (sudo usermod -aG " + group + " $USER), then log out and log in again.";
    };
    const auto admin = [](const QString& group, const QString& mode) {
        return "You have no permission to use /dev/x. It belongs to user \"root\" and group \"" +
               group + "\", mode " + mode +
               ". An administrator must give you access, for example with a udev rule that puts "
               "it in the group \"dialout\" with mode 660; then add your user to \"dialout\" "
               "and log in again.";
    };
    const QString stop =
        ", for example a UPS monitoring daemon. Stop it first, then choose the port again.";
    const std::pair<OpenFailure, QString> rows[] = {
        {failure(OpenFailure::Reason::None), QString()},
        {permission("dialout", 0660), join("/dev/x", "dialout")},
        {permission("uucp", 0664, "/dev/tty%1%2"), join("/dev/tty%1%2", "uucp")},
        // Joining would not help, or would hand over far more than the port.
        {permission("root", 0600), admin("root", "600")},
        {permission("root", 0660), admin("root", "660")},
        {permission("wheel", 0660), admin("wheel", "660")},
        {permission("sudo", 0660), admin("sudo", "660")},
        {permission("disk", 0660), admin("disk", "660")},
        {permission("dialout", 0640), admin("dialout", "640")},
        {permission("4242", 0660), admin("4242", "660")},
        {held("/dev/x", "", 0), "/dev/x is in use by another program" + stop},
        {held("/dev/x", "", 812), "/dev/x is in use by another program (process 812)" + stop},
        {held("/dev/x", "mon%1", 77), "/dev/x is in use by mon%1 (process 77)" + stop},
        {held("/dev/tty%1", "a%3%2", 9), "/dev/tty%1 is in use by a%3%2 (process 9)" + stop},
        {other, "/dev/%1: Input/output error %2"},
        {failure(OpenFailure::Reason::NoDevice, ""), "No port is chosen."},
    };
    for (const auto& [f, text] : rows) {
        SCOPED_TRACE(f.device + " " + f.group + " " + f.holder);
        EXPECT_EQ(morlen::OpenFailureText(f), text);
    }
}

}  // namespace
