#pragma once

// Counting what crossed the line from the simulator's trace, to compare a measured time with
// what 2400 baud allows.

#include <cstddef>
#include <fstream>
#include <string>

namespace morlen::bench {

constexpr double kByteMs = 10.0 * 1000.0 / 2400.0;  // 4.1667 ms

// Bytes of one trace reply as sent: the quoted text with \r, \n, \\ and \xNN unescaped.
inline std::size_t ReplyBytes(const std::string& quoted) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size())
            i += quoted[i + 1] == 'x' ? 3 : 1;
        ++n;
    }
    return n;
}

struct Traffic {
    std::size_t commands = 0;
    std::size_t replyBytes = 0;
    std::size_t replies = 0;

    // Command and reply bytes at line speed, plus the unit's latency once per reply.
    double boundMs(double latencyMs) const {
        return static_cast<double>(commands + replyBytes) * kByteMs +
               static_cast<double>(replies) * latencyMs;
    }
};

// Counts the trace lines from line `from` on.
inline Traffic CountTrace(const std::string& path, std::size_t from) {
    Traffic t;
    std::ifstream in(path);
    std::string line;
    for (std::size_t i = 0; std::getline(in, line); ++i) {
        if (i < from)
            continue;
        ++t.commands;
        const auto q = line.find("-> \"");
        if (q == std::string::npos)
            continue;
        const auto end = line.rfind('"');
        t.replyBytes += ReplyBytes(line.substr(q + 4, end - q - 4));
        ++t.replies;
    }
    return t;
}

inline std::size_t TraceLines(const std::string& path) {
    std::ifstream in(path);
    std::size_t n = 0;
    std::string line;
    while (std::getline(in, line))
        ++n;
    return n;
}

}  // namespace morlen::bench
