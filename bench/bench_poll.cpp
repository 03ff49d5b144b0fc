// morlen-bench-poll: how close one polling pass of a Smart-UPS comes to what the line allows.
//
// Starts morlen-upssim on a pseudo-terminal, opens it with a real termios APCUPS, and times
// the pass the poll thread makes (the measurements of family 0, the refresh's battery read
// and the link check). The lower bound is the bytes exchanged (command bytes, reply bytes
// with CR LF) at 10 bits each at 2400 baud, plus the unit's reply latency once per reply;
// the bytes are counted from the simulator's trace.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Apcups.h"
#include "Clock.h"
#include "TraceCount.h"
#include "UpsSimProcess.h"

namespace {

using morlen::Micros;
using namespace morlen::bench;

double Ms(Micros d) {
    return static_cast<double>(d.count()) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"morlen-bench-poll: polling pass time against morlen-upssim at line speed"};
    int passes = 30;
    int latencyMs = 40;
    bool detail = false;
    app.add_option("-n,--passes", passes, "number of timed passes (default 30)")
        ->check(CLI::Range(1, 10000));
    app.add_option("--latency", latencyMs, "the simulator's reply latency in ms (default 40)")
        ->check(CLI::Range(0, 1000));
    app.add_flag("--detail", detail, "also time each command of one pass alone");
    bool battery = false;
    app.add_flag(
        "--battery", battery,
        "add the battery page's reads and a calibration's watch to every pass (their "
        "worst case: each is due at most once a minute, the watch only while calibrating)");
    CLI11_PARSE(app, argc, argv);

    char tmpl[] = "/tmp/morlen-bench-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::cerr << "cannot create a temporary folder\n";
        return 1;
    }
    const std::string folder = tmpl;
    const std::string trace = folder + "/trace.txt";

    morlen::test::UpsSimProcess sim(
        {"--profile", "su1000", "--latency", std::to_string(latencyMs), "--trace", trace});
    if (!sim.started()) {
        std::cerr << sim.error() << "\n";
        return 1;
    }
    morlen::APCUPS ups;
    if (!ups.OpenPort(sim.ptyPath())) {
        std::cerr << "cannot open " << sim.ptyPath() << "\n";
        return 1;
    }
    if (!ups.CheckSmartMode()) {
        std::cerr << "no smart-mode answer on " << sim.ptyPath() << "\n";
        return 1;
    }
    ups.family = morlen::FamilySmart;

    morlen::Clock& clock = morlen::systemClock();
    // One pass first, untimed, so that every cache and page is warm.
    ups.ReadMeasurements();
    ups.ReadBatteryVoltage();
    ups.CheckSmartMode();

    const std::size_t traceStart = TraceLines(trace);
    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        const Micros t0 = clock.now();
        ups.ReadMeasurements();
        ups.ReadBatteryVoltage();
        ups.CheckSmartMode();
        if (battery) {
            ups.ReadSelfTestResult();
            ups.ReadTransferCause();
            ups.ReadHighestLine();
            ups.ReadLowestLine();
            ups.ReadLineQuality();
            ups.ReadStatusByte();
            ups.ReadBatteryCapacity();
            ups.ReadRunTime();
            ups.ReadLoad();
            ups.ReadInputVoltage();
        }
        times.push_back(Ms(clock.now() - t0));
    }
    // Let the simulator write its last trace lines.
    clock.sleep(Micros(100'000));
    const Traffic traffic = CountTrace(trace, traceStart);

    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    const double commandsPerPass = static_cast<double>(traffic.commands) / passes;
    const double bytesPerPass = static_cast<double>(traffic.commands + traffic.replyBytes) / passes;
    const double repliesPerPass = static_cast<double>(traffic.replies) / passes;
    const double bound = bytesPerPass * kByteMs + repliesPerPass * latencyMs;
    const double ratio = median / bound;

    std::printf("passes:       %d (profile su1000, latency %d ms, %s)\n", passes, latencyMs,
                sim.ptyPath().c_str());
    std::printf("pass:         %.0f commands, %.0f replies, %.0f bytes on the line\n",
                commandsPerPass, repliesPerPass, bytesPerPass);
    std::printf("median pass:  %.3f ms (min %.3f, max %.3f)\n", median, sorted.front(),
                sorted.back());
    std::printf("lower bound:  %.3f ms (%.0f bytes x %.4f ms + %.0f replies x %d ms)\n", bound,
                bytesPerPass, kByteMs, repliesPerPass, latencyMs);
    std::printf("ratio:        %.4f (goal <= 1.05: %s)\n", ratio,
                ratio <= 1.05 ? "met" : "NOT met");

    if (detail) {
        // Each command alone: measured time against command byte + latency + reply bytes.
        struct Step {
            const char* name;
            const char* (morlen::APCUPS::*read)();
        };
        const Step steps[] = {
            {"O", &morlen::APCUPS::ReadOutputVoltage},
            {"L", &morlen::APCUPS::ReadInputVoltage},
            {"P", &morlen::APCUPS::ReadLoad},
            {"C", &morlen::APCUPS::ReadTemperature},
            {"F", &morlen::APCUPS::ReadLineFrequency},
            {"j", &morlen::APCUPS::ReadRunTime},
            {"f", &morlen::APCUPS::ReadBatteryCapacity},
            {"B", &morlen::APCUPS::ReadBatteryVoltage},
        };
        std::printf("\ncommand  measured   bound\n");
        for (const Step& s : steps) {
            const std::size_t before = TraceLines(trace);
            const Micros t0 = clock.now();
            (ups.*s.read)();
            const double took = Ms(clock.now() - t0);
            clock.sleep(Micros(50'000));
            const Traffic one = CountTrace(trace, before);
            const double b = one.boundMs(latencyMs);
            std::printf("%-7s %8.3f %8.3f\n", s.name, took, b);
        }
    }

    sim.stop();
    std::remove(trace.c_str());
    ::rmdir(folder.c_str());
    return 0;
}
