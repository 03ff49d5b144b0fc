#include "UpsSimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace morlen::test {

using Clock = std::chrono::steady_clock;

std::string UpsSimProcess::binary() {
    return MORLEN_UPSSIM_PATH;
}

UpsSimProcess::UpsSimProcess(std::vector<std::string> arguments,
                             std::map<std::string, std::string> environment,
                             std::chrono::milliseconds startTimeout) {
    // Everything the child needs is prepared before fork: only exec-safe calls after it.
    const std::string path = binary();
    std::vector<std::string> argStore;
    argStore.push_back(path);
    for (auto& a : arguments)
        argStore.push_back(std::move(a));
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStore;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        if (environment.count(key) == 0)
            envStore.push_back(entry);
    }
    for (const auto& [key, value] : environment)
        envStore.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        ::close(in[0]);
        ::close(in[1]);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::execve(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (pid_ < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        ::close(in[1]);
        ::close(out[0]);
        return;
    }
    toChild_ = in[1];
    fromChild_ = out[0];

    const auto deadline = Clock::now() + startTimeout;
    std::string line;
    std::string printed;
    while (readLine(line, deadline)) {
        if (line.rfind("pty ", 0) == 0) {
            ptyPath_ = line.substr(4);
            return;
        }
        printed += line + "\n";
    }
    error_ = "morlen-upssim did not report its pseudo-terminal";
    if (!printed.empty())
        error_ += "; it printed: " + printed;
}

UpsSimProcess::~UpsSimProcess() {
    stop();
}

bool UpsSimProcess::readLine(std::string& line, Clock::time_point deadline) {
    for (;;) {
        const auto eol = buffer_.find('\n');
        if (eol != std::string::npos) {
            line = buffer_.substr(0, eol);
            buffer_.erase(0, eol + 1);
            return true;
        }
        if (fromChild_ < 0)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fromChild_, POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return false;
        char buf[512];
        const ssize_t n = ::read(fromChild_, buf, sizeof buf);
        if (n <= 0)
            return false;
        buffer_.append(buf, static_cast<std::size_t>(n));
    }
}

void UpsSimProcess::send(const std::string& line) {
    if (toChild_ < 0)
        return;
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(toChild_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string UpsSimProcess::command(const std::string& line, std::chrono::milliseconds timeout) {
    send(line);
    const auto deadline = Clock::now() + timeout;
    std::string answer;
    while (readLine(answer, deadline)) {
        if (answer.rfind("ok", 0) == 0 || answer.rfind("error", 0) == 0)
            return answer;
    }
    return {};
}

void UpsSimProcess::signal(int sig) {
    if (pid_ > 0 && status_ < 0)
        ::kill(pid_, sig);
}

int UpsSimProcess::wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return -1;
    if (status_ >= 0)
        return status_;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (r < 0 && errno != EINTR)
            return -1;
        if (Clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int UpsSimProcess::stop() {
    if (pid_ > 0 && status_ < 0) {
        send("quit");
        if (wait(std::chrono::seconds(3)) < 0) {
            signal(SIGTERM);
            if (wait(std::chrono::seconds(2)) < 0) {
                signal(SIGKILL);
                wait(std::chrono::seconds(2));
            }
        }
    }
    if (toChild_ >= 0) {
        ::close(toChild_);
        toChild_ = -1;
    }
    if (fromChild_ >= 0) {
        ::close(fromChild_);
        fromChild_ = -1;
    }
    return status_;
}

}  // namespace morlen::test
