// morlen-upssim: a simulated smart-protocol UPS on a pseudo-terminal, in real time.
//
// The pseudo-terminal carries bytes instantly, so the program adds what a 2400-baud line and
// the unit would cost: a command byte is taken to arrive one byte time after it was read,
// the reply starts after the reply latency, and every reply byte is written at its own
// absolute deadline, one byte time apart.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Clock.h"
#include "Profile.h"
#include "SimLine.h"
#include "SimUps.h"
#include "UpsModel.h"

namespace {

using morlen::Micros;
using morlen::sim::kByteTime;

volatile sig_atomic_t stopSignal = 0;

void OnSignal(int sig) {
    stopSignal = sig;
}

timespec ToTimespec(Micros t) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t.count() / 1'000'000);
    ts.tv_nsec = static_cast<long>((t.count() % 1'000'000) * 1000);
    return ts;
}

// Creates every missing folder of `path`.
bool MakeFolders(const std::string& path) {
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

std::string PortFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/Pelloran/ports";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/Pelloran/ports";
}

// A symbolic link to the pseudo-terminal, removed again at exit if it still points there.
class PortLink {
public:
    PortLink(std::string path, std::string target)
        : path_(std::move(path)), target_(std::move(target)) {}
    ~PortLink() { remove(); }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    bool create(std::string& error) {
        const auto slash = path_.rfind('/');
        if (slash != std::string::npos && slash > 0 && !MakeFolders(path_.substr(0, slash))) {
            error = "cannot create the folder of " + path_ + ": " + std::strerror(errno);
            return false;
        }
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = path_ + " exists and is not a symbolic link";
                return false;
            }
            // Left behind by an earlier run, or another unit: this one takes the name over.
            std::cerr << "morlen-upssim: replacing the link " << path_ << "\n";
            ::unlink(path_.c_str());
        }
        if (::symlink(target_.c_str(), path_.c_str()) != 0) {
            error = "cannot create " + path_ + ": " + std::strerror(errno);
            return false;
        }
        created_ = true;
        return true;
    }

    void remove() {
        if (!created_)
            return;
        created_ = false;
        char buf[4096];
        const ssize_t n = ::readlink(path_.c_str(), buf, sizeof buf - 1);
        if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target_)
            ::unlink(path_.c_str());
    }

private:
    std::string path_;
    std::string target_;
    bool created_ = false;
};

class PtyUnit {
public:
    PtyUnit(const morlen::sim::Profile& profile, Micros latency, std::ofstream* trace)
        : model_(profile), latency_(latency), trace_(trace) {}
    ~PtyUnit() {
        if (slave_ >= 0)
            ::close(slave_);
        if (master_ >= 0)
            ::close(master_);
    }

    morlen::sim::UpsModel& model() { return model_; }

    bool open(std::string& error) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
            return false;
        }
        const char* name = ::ptsname(master_);
        if (name == nullptr) {
            error = "cannot name the pseudo-terminal";
            return false;
        }
        slavePath_ = name;
        // Our own descriptor keeps the terminal alive while the host closes and reopens it.
        slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) {
            error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
            return false;
        }
        // Raw from the start, so no echo or line editing touches the first bytes; the host
        // then sets its own line settings.
        termios tio{};
        if (::tcgetattr(slave_, &tio) == 0) {
            ::cfmakeraw(&tio);
            tio.c_cflag |= CLOCAL | CREAD;
            ::cfsetispeed(&tio, B2400);
            ::cfsetospeed(&tio, B2400);
            ::tcsetattr(slave_, TCSANOW, &tio);
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        start_ = clock_.now();
        return true;
    }

    const std::string& slavePath() const { return slavePath_; }

    // Runs until quit, end of input or a stop signal.
    void run() {
        sigset_t unblocked;
        sigemptyset(&unblocked);
        bool inputOpen = true;
        while (!quit_ && stopSignal == 0) {
            Micros now = clock_.now();
            collectAlerts(now);
            writeDue(now);

            Micros wake = now + Micros(250'000);
            if (!out_.empty())
                wake = std::min(wake, out_.front().at);
            if (const auto next = model_.nextAlertTime(now))
                wake = std::min(wake, std::max(*next, now));

            // Close to a byte's deadline: sleep to it exactly rather than poll.
            if (!out_.empty() && out_.front().at == wake && wake - now <= Micros(2000)) {
                const timespec ts = ToTimespec(wake);
                ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
                continue;
            }
            Micros wait = wake - now - Micros(1500);
            if (wait < Micros(0))
                wait = Micros(0);
            const timespec timeout = ToTimespec(wait);
            pollfd fds[2] = {{master_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
            const int nfds = inputOpen ? 2 : 1;
            const int rc = ::ppoll(fds, static_cast<nfds_t>(nfds), &timeout, &unblocked);
            if (rc < 0) {
                if (errno == EINTR)
                    continue;
                std::cerr << "morlen-upssim: poll failed: " << std::strerror(errno) << "\n";
                return;
            }
            if (fds[0].revents & POLLIN)
                readCommands();
            if (inputOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
                inputOpen = readConsole();
            if (!inputOpen)
                quit_ = true;  // end of input ends the program
        }
    }

private:
    struct Out {
        Micros at;
        std::uint8_t byte;
    };

    void collectAlerts(Micros now) {
        for (;;) {
            const auto next = model_.nextAlertTime(now);
            if (!next || *next > now)
                return;
            for (const auto& a : model_.takeAlerts(*next)) {
                if (!plugged_)
                    continue;
                // Noticed now at the latest; one byte at a time on the line, so an alert
                // that would collide with the reply being sent waits for its end.
                Micros start = std::max(a.at, now);
                if (start < busyUntil_ && start + kByteTime > replyStart_)
                    start = busyUntil_;
                push(start + kByteTime, static_cast<std::uint8_t>(a.byte));
            }
        }
    }

    void push(Micros at, std::uint8_t byte) {
        const auto pos = std::upper_bound(out_.begin(), out_.end(), at,
                                          [](Micros t, const Out& o) { return t < o.at; });
        out_.insert(pos, Out{at, byte});
        if (at > replyStart_)
            busyUntil_ = std::max(busyUntil_, at);
    }

    void writeDue(Micros now) {
        while (!out_.empty() && out_.front().at <= now) {
            const std::uint8_t b = out_.front().byte;
            out_.pop_front();
            // Nobody reading and the buffer full: the byte is lost, as on a real line.
            const ssize_t n = ::write(master_, &b, 1);
            (void)n;
        }
    }

    void readCommands() {
        std::uint8_t buf[256];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                return;
            const Micros readAt = clock_.now();
            for (ssize_t i = 0; i < n; ++i)
                handleCommand(buf[i], readAt + kByteTime);
        }
    }

    void handleCommand(std::uint8_t byte, Micros received) {
        std::optional<std::string> reply;
        if (plugged_)
            reply = model_.receive(byte, received);
        if (trace_ != nullptr) {
            *trace_ << morlen::sim::TraceLine(received - start_, byte, reply)
                    << (plugged_ ? "" : " (unplugged)") << "\n";
            trace_->flush();
        }
        if (!reply || !plugged_)
            return;
        Micros t = std::max(received + latency_, busyUntil_);
        replyStart_ = t;
        for (unsigned char c : *reply) {
            t += kByteTime;
            push(t, c);
        }
    }

    // Reads console lines; false at end of input.
    bool readConsole() {
        char buf[512];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0)
            return n < 0 && (errno == EINTR || errno == EAGAIN);
        console_.append(buf, static_cast<std::size_t>(n));
        std::size_t eol;
        while ((eol = console_.find('\n')) != std::string::npos) {
            std::string line = console_.substr(0, eol);
            console_.erase(0, eol + 1);
            consoleCommand(line);
        }
        return true;
    }

    void consoleCommand(std::string line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.erase(0, 1);
        if (line.empty())
            return;
        const Micros now = clock_.now();
        std::string answer = "ok " + line;
        if (line == "unplug") {
            plugged_ = false;
            out_.clear();  // what was on its way is cut off
        } else if (line == "plug") {
            plugged_ = true;
        } else if (line == "power fail") {
            model_.powerFail(now);
        } else if (line.rfind("power fail ", 0) == 0 && line.size() == 12 &&
                   std::string("RHLT").find(line[11]) != std::string::npos) {
            model_.powerFail(now, line[11]);
        } else if (double value = 0; Number(line, "load ", value) && value >= 0 && value <= 150) {
            model_.setLoad(value, now);
        } else if (Number(line, "line ", value) && value >= 0 && value <= 300) {
            model_.setLineVoltage(value, now);
        } else if (Number(line, "battery capacity ", value) && value > 0 && value <= 10) {
            model_.setBatteryCapacity(value, now);
        } else if (line == "battery weak" || line == "battery good") {
            model_.setWeakBattery(line == "battery weak");
        } else if (line == "status") {
            answer = "ok " + status(now);
        } else if (line == "power restore") {
            model_.powerRestore(now);
        } else if (line.rfind("alert ", 0) == 0 && line.size() == 7) {
            model_.scheduleAlert(line[6], now);
        } else if (line == "quit") {
            quit_ = true;
        } else if (line == "help") {
            std::cout << "commands:\n"
                         "  unplug         stop answering (cable pulled)\n"
                         "  plug           answer again\n"
                         "  power fail [C] the mains fail: on battery, alerts; C is the cause\n"
                         "                 \"G\" names: R, H, L (default) or T\n"
                         "  power restore  the mains come back\n"
                         "  load P         the load is P % of the rating (0 to 150)\n"
                         "  line V         the mains read V volts (0 to 300; the unit stays on\n"
                         "                 line, \"9\" answers 00 outside the transfer points)\n"
                         "  battery weak   a self-test fails \"BT\" (battery good: passes)\n"
                         "  battery capacity F\n"
                         "                 the battery holds F times the run time the unit has\n"
                         "                 stored; a calibration measures and stores it\n"
                         "  status         charge, run time, load, state\n"
                         "  alert C        send the alert character C now\n"
                         "  quit           end the program\n"
                         "  help           this list\n";
        } else {
            answer = "error unknown command: " + line + " (try help)";
        }
        std::cout << answer << std::endl;
    }

    // `line` is `prefix` followed by a number only.
    static bool Number(const std::string& line, const std::string& prefix, double& value) {
        if (line.rfind(prefix, 0) != 0)
            return false;
        std::istringstream in(line.substr(prefix.size()));
        std::string rest;
        return static_cast<bool>(in >> value) && !(in >> rest);
    }

    std::string status(Micros now) {
        const double charge = model_.batteryCharge(now);
        const std::uint8_t q = model_.statusByte(now);
        char buf[200];
        std::snprintf(buf, sizeof buf,
                      "status charge %.1f %% load %.1f %% Q %02X %s stored run time %.1f min "
                      "(at 25 %% load)",
                      charge, model_.loadPercent(now), q,
                      model_.switchedOff()   ? "switched off"
                      : model_.calibrating() ? "calibrating"
                      : model_.onBattery()   ? "on battery"
                                             : "on line",
                      model_.storedRunTime());
        return buf;
    }

    morlen::sim::UpsModel model_;
    morlen::Clock& clock_ = morlen::systemClock();
    Micros latency_;
    std::ofstream* trace_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    Micros start_{0};
    Micros replyStart_{0};  // the last reply occupies the line from here
    Micros busyUntil_{0};   // to here
    std::deque<Out> out_;
    std::string console_;
    bool plugged_ = true;
    bool quit_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"morlen-upssim: a simulated smart-protocol UPS on a pseudo-terminal"};
    std::string profileName = "su1000";
    std::string port;
    std::string linkPath;
    std::string tracePath;
    int latencyMs = 40;
    bool listProfiles = false;
    bool noDrift = false;
    double timeScale = 1.0;
    app.add_option("--profile", profileName, "kind of unit to simulate (see --list-profiles)");
    app.add_flag("--list-profiles", listProfiles, "list the profiles and exit");
    app.add_option("--port", port,
                   "COMn: link $XDG_CONFIG_HOME/Pelloran/ports/COMn to the pseudo-terminal")
        ->check([](const std::string& s) -> std::string {
            const bool ok = s.size() >= 4 && s.compare(0, 3, "COM") == 0 &&
                            s.find_first_not_of("0123456789", 3) == std::string::npos &&
                            s[3] != '0';
            return ok ? std::string() : "expected COM followed by a port number, e.g. COM1";
        });
    app.add_option("--link", linkPath, "also link this path to the pseudo-terminal");
    app.add_option("--trace", tracePath, "write one line per command received to this file");
    app.add_option("--latency", latencyMs, "reply latency in milliseconds (default 40)")
        ->check(CLI::Range(0, 10000));
    app.add_flag("--no-drift", noDrift, "keep the live values still");
    app.add_option("--time-scale", timeScale,
                   "the battery charges and discharges this many times faster (default 1)")
        ->check(CLI::Range(1.0, 1000.0));
    CLI11_PARSE(app, argc, argv);

    if (listProfiles) {
        for (const auto& p : morlen::sim::Profiles())
            std::cout << p.name << std::string(p.name.size() < 12 ? 12 - p.name.size() : 1, ' ')
                      << p.description << "\n";
        return 0;
    }
    const morlen::sim::Profile* profile = morlen::sim::FindProfile(profileName);
    if (profile == nullptr) {
        std::cerr << "morlen-upssim: unknown profile \"" << profileName
                  << "\" (see --list-profiles)\n";
        return 2;
    }

    std::ofstream trace;
    if (!tracePath.empty()) {
        trace.open(tracePath, std::ios::out | std::ios::trunc);
        if (!trace) {
            std::cerr << "morlen-upssim: cannot write " << tracePath << "\n";
            return 1;
        }
    }

    // Stop signals are only delivered inside the wait, so they never cut a write short.
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGINT);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &stopSet, nullptr);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    PtyUnit unit(*profile, Micros(std::int64_t(latencyMs) * 1000), trace ? &trace : nullptr);
    unit.model().setDrift(!noDrift);
    unit.model().setTimeScale(timeScale);
    std::string error;
    if (!unit.open(error)) {
        std::cerr << "morlen-upssim: " << error << "\n";
        return 1;
    }
    std::vector<std::unique_ptr<PortLink>> links;
    if (!port.empty())
        links.push_back(std::make_unique<PortLink>(PortFolder() + "/" + port, unit.slavePath()));
    if (!linkPath.empty())
        links.push_back(std::make_unique<PortLink>(linkPath, unit.slavePath()));
    for (auto& link : links) {
        if (!link->create(error)) {
            std::cerr << "morlen-upssim: " << error << "\n";
            return 1;
        }
    }

    std::cout << "pty " << unit.slavePath() << std::endl;
    unit.run();
    return 0;
}
