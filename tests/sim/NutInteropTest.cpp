// A monitoring daemon written by others reads the simulated unit: NUT's apcsmart driver,
// run once (-d 1) against morlen-upssim on line and again after a power failure.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Profile.h"
#include "UpsSimProcess.h"

namespace morlen::test {
namespace {

constexpr const char* kDriver = "/lib/nut/apcsmart";

// The driver's dump: one "name: value" line per variable.
struct Dump {
    std::string text;
    int status = -1;

    std::string value(const std::string& name) const {
        const std::string key = "\n" + name + ": ";
        const std::string padded = "\n" + text;
        const auto at = padded.find(key);
        if (at == std::string::npos)
            return {};
        const auto start = at + key.size();
        return padded.substr(start, padded.find('\n', start) - start);
    }
};

Dump RunDriver(const std::string& port) {
    Dump d;
    const std::string cmd =
        std::string("timeout 120 ") + kDriver + " -s test -x port=" + port + " -d 1 -u root 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr)
        return d;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr)
        d.text += buf;
    const int rc = ::pclose(p);
    d.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return d;
}

TEST(NutInterop, ApcsmartDriverReadsTheSimulatedUnit) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the apcsmart driver must run as root";
    if (::access(kDriver, X_OK) != 0)
        GTEST_SKIP() << kDriver << " is not installed (Debian package nut-server)";
    ::mkdir("/run/nut", 0755);

    const sim::Profile& profile = *sim::FindProfile("su1000");
    UpsSimProcess sim({"--profile", "su1000"});
    ASSERT_TRUE(sim.started()) << sim.error();

    const Dump online = RunDriver(sim.ptyPath());
    ASSERT_EQ(online.status, 0) << online.text;
    EXPECT_EQ(online.text.find("very old or unknown APC model"), std::string::npos) << online.text;
    EXPECT_EQ(online.value("ups.model"), profile.models[profile.modelIndex].name) << online.text;
    EXPECT_EQ(online.value("ups.serial"), profile.serial) << online.text;
    EXPECT_EQ(online.value("ups.status"), "OL") << online.text;
    EXPECT_NEAR(std::atof(online.value("input.voltage").c_str()), profile.inputVoltage, 1.0)
        << online.text;
    EXPECT_EQ(online.value("battery.charge"), "100.0") << online.text;
    EXPECT_EQ(online.value("ups.firmware"), profile.models[profile.modelIndex].firmware);

    ASSERT_EQ(sim.command("power fail"), "ok power fail");
    const Dump onBattery = RunDriver(sim.ptyPath());
    ASSERT_EQ(onBattery.status, 0) << onBattery.text;
    EXPECT_EQ(onBattery.value("ups.status"), "OB") << onBattery.text;
    EXPECT_EQ(std::atof(onBattery.value("input.voltage").c_str()), 0.0) << onBattery.text;
    // Draining, but only for a second or two.
    const double charge = std::atof(onBattery.value("battery.charge").c_str());
    EXPECT_LE(charge, 100.0) << onBattery.text;
    EXPECT_GT(charge, 99.0) << onBattery.text;
}

}  // namespace
}  // namespace morlen::test
