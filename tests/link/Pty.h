#pragma once

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace morlen::test {

// A pseudo-terminal whose master side plays the unit.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[128];
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
        // Raw on our side too, so that what the port writes arrives unchanged.
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::string receive() const {
        char buf[64];
        std::string out;
        for (int i = 0; i < 50; ++i) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                out.append(buf, std::size_t(n));
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return out;
    }
};

}  // namespace morlen::test
