// The confirmation tone holds its caller for exactly its length, in virtual time, whatever the
// sound device does: a stalled device never holds the next tone or the window's close.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "Clock.h"
#include "Tone.h"

namespace morlen::test {
namespace {

using Steady = std::chrono::steady_clock;

long long realMs(Steady::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - since).count();
}

// A sound device the test can stall: every play waits until released.
struct StalledDevice {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int started = 0;
    int finished = 0;
    std::vector<std::pair<int, int>> tones;

    TonePlayer player() {
        return [this](int hertz, int ms, Steady::time_point) {
            std::unique_lock lock(mutex);
            ++started;
            tones.emplace_back(hertz, ms);
            changed.wait(lock, [this] { return released; });
            ++finished;
            changed.notify_all();
        };
    }
    void releaseAndWait() {
        std::unique_lock lock(mutex);
        released = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(10), [this] { return finished == started; });
    }
};

TEST(Tone, AStalledDeviceHoldsNobodyLongerThanTheToneItself) {
    StalledDevice device;
    VirtualClock clock;
    std::optional<SystemTone> tone(std::in_place, clock, device.player());

    Steady::time_point start = Steady::now();
    tone->Beep(2000, 500);
    EXPECT_EQ(clock.now(), Millis(500)) << "the caller is held for the tone's length";
    EXPECT_LT(realMs(start), 450) << "and no longer: the device plays on its own thread";

    // The first tone's player is stuck; the next waits for it only until its 500 ms are over.
    tone->Beep(2000, 500);
    EXPECT_EQ(clock.now(), Millis(1000));
    // A stuck device never returns by itself: the margins only allow for a busy machine.
    EXPECT_LT(realMs(start), 1500);

    start = Steady::now();
    tone.reset();  // the window's close
    EXPECT_LT(realMs(start), 1500);

    device.releaseAndWait();
    EXPECT_EQ(device.finished, 2);
    EXPECT_EQ(device.tones, (std::vector<std::pair<int, int>>{{2000, 500}, {2000, 500}}));
}

TEST(Tone, EachToneGetsADeadlineAtItsOwnLength) {
    VirtualClock clock;
    std::vector<long long> lengths;
    std::mutex mutex;
    {
        SystemTone tone(clock, [&](int, int, Steady::time_point deadline) {
            std::lock_guard lock(mutex);
            lengths.push_back(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now())
                    .count());
        });
        const Steady::time_point start = Steady::now();
        tone.Beep(2000, 500);
        tone.Beep(2000, 250);
        EXPECT_LT(realMs(start), 450) << "a tone that has finished is not waited for";
        EXPECT_EQ(clock.now(), Millis(750));
    }
    ASSERT_EQ(lengths.size(), 2u);
    EXPECT_NEAR(lengths[0], 500, 50);
    EXPECT_NEAR(lengths[1], 250, 50);
}

}  // namespace
}  // namespace morlen::test
