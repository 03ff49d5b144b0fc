#include "TermiosPort.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace morlen {

namespace {

std::mutex lockDirMutex;
std::string& lockDirectory() {
    static std::string dir = "/run/lock";
    return dir;
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when a process with this pid exists (a lock it holds is not stale).
bool processAlive(long pid) {
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The name the kernel keeps for a process (its command, at most 15 characters), or empty.
std::string processName(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The process holding an exclusive flock on the device, from the kernel's lock table: each
// line names the locking pid and the locked file as major:minor:inode (hexadecimal device).
long flockHolder(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return 0;
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%lu", ::major(st.st_dev), ::minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, file;
        long pid = 0;
        if (fields >> number >> kind >> mode >> access >> pid >> file && kind == "FLOCK" &&
            file == id)
            return pid;
    }
    return 0;
}

// Whether process `pid` has `device` open: 1 yes, 0 no, -1 when its descriptors cannot be
// read (another user's process, for a user without the rights to look).
int hasOpen(long pid, const std::string& device) {
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr)
        return errno == ENOENT ? 0 : -1;
    int found = 0;
    while (dirent* fd = ::readdir(fds)) {
        char target[PATH_MAX];
        const std::string link = fdDir + "/" + fd->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && device.compare(0, std::string::npos, target, std::size_t(n)) == 0) {
            found = 1;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

// Some other process with the device open: looked for only when the device itself says it is
// busy and no lock names its holder.
long openedBy(const std::string& device) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return 0;
    long found = 0;
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == ::getpid())
            continue;
        if (hasOpen(pid, device) == 1) {
            found = pid;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

// Whether `pid` holds `device` now: alive, and with the device open or its exclusive lock. A
// lock file can outlive its program and its number be given to an unrelated one; a process
// whose descriptors cannot be read is taken at its lock file's word.
bool holds(long pid, const std::string& device) {
    if (!processAlive(pid))
        return false;
    if (flockHolder(device) == pid)
        return true;
    return hasOpen(pid, device) != 0;
}

// The name of a group or user id, or the number when the system has no name for it.
std::string groupName(gid_t gid) {
    group entry{};
    group* result = nullptr;
    char buffer[4096];
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &result) == 0 && result != nullptr)
        return result->gr_name;
    return std::to_string(gid);
}

std::string userName(uid_t uid) {
    passwd entry{};
    passwd* result = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &result) == 0 && result != nullptr)
        return result->pw_name;
    return std::to_string(uid);
}

}  // namespace

std::string PortLinkFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/Pelloran/ports";
}

std::string ResolvePortName(const std::string& name) {
    if (!name.empty() && name[0] == '/')
        return name;
    if (name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '4') {
        const std::string link = PortLinkFolder() + "/" + name;
        struct stat st {};
        if (::stat(link.c_str(), &st) == 0)
            return link;
        return std::string("/dev/ttyS") + static_cast<char>('0' + (name[3] - '1'));
    }
    return {};
}

void TermiosPort::setLockDirectory(const std::string& dir) {
    std::lock_guard lock(lockDirMutex);
    lockDirectory() = dir;
}

TermiosPort::TermiosPort(Clock& clock) : clock_(clock) {}

TermiosPort::~TermiosPort() {
    close();
}

void TermiosPort::failed(const std::string& device, int error) {
    failure_ = OpenFailure{};
    failure_.device = device;
    switch (error) {
        case EACCES:
        case EPERM:
            failure_.reason = OpenFailure::Reason::PermissionDenied;
            if (struct stat st{}; ::stat(device.c_str(), &st) == 0) {
                failure_.owner = userName(st.st_uid);
                failure_.group = groupName(st.st_gid);
                failure_.mode = st.st_mode & 07777;
            }
            break;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            failure_.reason = OpenFailure::Reason::NoDevice;
            break;
        case EBUSY:
        case EWOULDBLOCK: {
            long pid = flockHolder(device);
            if (pid == 0 && error == EBUSY)
                pid = openedBy(device);
            heldBy(device, pid);
            break;
        }
        default:
            failure_.reason = OpenFailure::Reason::Other;
            failure_.message = std::strerror(error);
            break;
    }
}

void TermiosPort::heldBy(const std::string& device, long pid) {
    failure_ = OpenFailure{};
    failure_.reason = OpenFailure::Reason::HeldByOther;
    failure_.device = device;
    if (pid == 0 || !holds(pid, device))
        return;
    const std::string name = processName(pid);
    // It may have ended while its name was read.
    if (!holds(pid, device))
        return;
    failure_.holderPid = pid;
    failure_.holder = name;
}

bool TermiosPort::open(const std::string& name) {
    if (fd_ >= 0)
        return false;
    failure_ = OpenFailure{};
    const std::string path = ResolvePortName(name);
    if (path.empty()) {
        failure_.reason = OpenFailure::Reason::NoDevice;
        failure_.device = name;
        return false;
    }

    char real[PATH_MAX];
    const std::string device = ::realpath(path.c_str(), real) != nullptr ? real : path;

    // UUCP lock: honour a live one, remove a stale one, go on without it where the folder
    // is not writable.
    std::string dir;
    {
        std::lock_guard lock(lockDirMutex);
        dir = lockDirectory();
    }
    const std::string lockPath = dir + "/LCK.." + baseName(device);
    bool haveLockFile = false;
    for (int attempt = 0; attempt < 2 && !haveLockFile; ++attempt) {
        const int lfd = ::open(lockPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (lfd >= 0) {
            char text[16];
            const int n =
                std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
            const bool written = ::write(lfd, text, static_cast<std::size_t>(n)) == n;
            ::close(lfd);
            if (!written) {
                ::unlink(lockPath.c_str());
                break;
            }
            haveLockFile = true;
            break;
        }
        if (errno != EEXIST)
            break;  // no writable lock folder: flock alone
        FILE* f = std::fopen(lockPath.c_str(), "r");
        long pid = 0;
        if (f != nullptr) {
            if (std::fscanf(f, "%ld", &pid) != 1)
                pid = 0;
            std::fclose(f);
        }
        if (processAlive(pid)) {
            heldBy(device, pid);
            return false;
        }
        ::unlink(lockPath.c_str());
    }

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        failed(device, error);
        if (haveLockFile)
            ::unlink(lockPath.c_str());
        return false;
    }
    fd_ = fd;
    lockFile_ = haveLockFile ? lockPath : std::string();
    lastWasCR_ = false;
    return true;
}

void TermiosPort::releaseLockFile() {
    if (!lockFile_.empty()) {
        ::unlink(lockFile_.c_str());
        lockFile_.clear();
    }
}

bool TermiosPort::close() {
    if (fd_ < 0)
        return false;
    ::flock(fd_, LOCK_UN);
    const int rc = ::close(fd_);
    fd_ = -1;
    releaseLockFile();
    return rc == 0 || errno == EINTR;
}

bool TermiosPort::configure() {
    if (fd_ < 0)
        return false;
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B2400);
    ::cfsetospeed(&tio, B2400);
    return ::tcsetattr(fd_, TCSANOW, &tio) == 0;
}

bool TermiosPort::writeByte(std::uint8_t byte) {
    if (fd_ < 0)
        return false;
    for (;;) {
        const ssize_t n = ::write(fd_, &byte, 1);
        if (n == 1)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // The driver's buffer is full: wait for room rather than drop the byte.
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return false;
            continue;
        }
        return false;
    }
}

void TermiosPort::purgeReceive() {
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
    lastWasCR_ = false;
}

std::size_t TermiosPort::read(std::uint8_t* buffer, std::size_t count) {
    if (fd_ < 0 || count == 0)
        return 0;
    ReadDeadline deadline(timeouts_, clock_.now(), count);
    std::size_t got = 0;
    while (got < count) {
        const Micros now = clock_.now();
        if (now >= deadline.end())
            break;
        // Round up so that the wait never ends a hair before the deadline.
        const auto waitMs = static_cast<int>((deadline.end() - now).count() + 999) / 1000;
        pollfd p{fd_, POLLIN, 0};
        const int rc = ::poll(&p, 1, waitMs);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (rc == 0)
            continue;  // the loop re-checks the deadline
        if (p.revents & (POLLERR | POLLNVAL))
            break;
        if (!(p.revents & POLLIN))
            break;  // hung up with nothing left to read
        std::uint8_t chunk[256];
        std::size_t want = count - got;
        if (want > sizeof chunk)
            want = sizeof chunk;
        const ssize_t n = ::read(fd_, chunk, want);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break;  // the device failed: end with what arrived
        }
        if (n == 0)
            break;
        deadline.byteArrived(clock_.now());
        bool done = false;
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint8_t b = chunk[i];
            if (b == 0)
                continue;  // NUL bytes never reach the buffers
            buffer[got++] = b;
            const bool crlf = lastWasCR_ && b == '\n';
            lastWasCR_ = b == '\r';
            if (crlf)
                done = true;
        }
        if (done)
            break;
    }
    return got;
}

}  // namespace morlen
