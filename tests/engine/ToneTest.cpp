// The confirmation tone holds its caller for exactly its length, in virtual time, whatever the
// sound device does, with one player at most: a stalled device never holds the next tone, piles
// up players, or crashes the process's end.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Clock.h"
#include "Tone.h"

namespace morlen::test {
namespace {

using Steady = std::chrono::steady_clock;
using Tones = std::vector<std::pair<int, int>>;

long long realMs(Steady::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - since).count();
}

// A sound device without mixing: it fails to open, plays a little past the tone's end before
// it lets go, or stalls until released. A play that opens it while another holds it hears
// nothing.
struct Device {
    enum Kind { FailsToOpen, LetsGoLate, Stalls };
    explicit Device(Kind k) : kind(k) {}

    const Kind kind;
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int inside = 0, mostInside = 0, finished = 0;
    Tones asked, heard;
    std::vector<long long> left;  // of each tone's length when the device is asked for it

    TonePlayer player() {
        return [this](int hertz, int ms, Steady::time_point deadline) {
            std::unique_lock lock(mutex);
            asked.emplace_back(hertz, ms);
            left.push_back(std::chrono::duration_cast<Millis>(deadline - Steady::now()).count());
            mostInside = std::max(mostInside, ++inside);
            if (kind != FailsToOpen && inside == 1)
                heard.emplace_back(hertz, ms);
            if (kind == LetsGoLate)
                changed.wait_until(lock, deadline + Millis(30), [] { return false; });
            if (kind == Stalls)
                changed.wait(lock, [this] { return released; });
            --inside;
            ++finished;
            changed.notify_all();
        };
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    // Until it has been asked for n tones and played them all.
    void waitUntilDone(std::size_t n) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10),
                         [&] { return asked.size() >= n && finished == int(asked.size()); });
    }
};

// A tone asked for (hertz, length), or the test's own step in real time: wait ms, release the
// device, wait until the device has played n tones, close the window.
struct Step {
    int hertz;
    int ms;
};
constexpr int kWait = 0, kRelease = -1, kDone = -2, kClose = -3;

TEST(Tone, OnePlayerAtMostAndEveryCallerHeldForItsLength) {
    struct Row {
        const char* name;
        Device::Kind kind;
        std::vector<Step> steps;
        Tones asked, heard;
        std::vector<long long> left;  // when not empty
    } rows[] = {
        {"a device that fails to open is asked for every tone, each for its own length",
         Device::FailsToOpen,
         {{2000, 500}, {kDone, 1}, {2000, 500}, {kDone, 2}, {1000, 250}},
         {{2000, 500}, {2000, 500}, {1000, 250}},
         {},
         {500, 500, 250}},
        {"the next tone, asked for as the caller's hold ends, waits for the device to be let go",
         Device::LetsGoLate,
         {{2000, 300}, {kWait, 300}, {1000, 300}},
         {{2000, 300}, {1000, 300}},
         {{2000, 300}, {1000, 300}},
         {}},
        {"tones whose time passes while the player is stuck are skipped; the next is played",
         Device::Stalls,
         {{2000, 500},
          {1500, 50},
          {kWait, 80},
          {1200, 50},
          {kWait, 80},
          {kRelease, 0},
          {kWait, 100},
          {1000, 500}},
         {{2000, 500}, {1000, 500}},
         {{2000, 500}, {1000, 500}},
         {}},
        {"the close waits for a stalled player only until its tone's end",
         Device::Stalls,
         {{2000, 500}, {1000, 500}, {kClose, 0}, {kRelease, 0}},
         {{2000, 500}},
         {{2000, 500}},
         {}},
        {"a tone still waiting for the device at the close is not started after it",
         Device::LetsGoLate,
         {{2000, 100}, {1000, 500}, {kClose, 0}, {kWait, 100}},
         {{2000, 100}},
         {{2000, 100}},
         {}},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        Device device(row.kind);
        VirtualClock clock;
        std::optional<SystemTone> tone(std::in_place, clock, device.player());
        const Steady::time_point begin = Steady::now();
        for (const Step& step : row.steps) {
            if (step.hertz == kRelease) {
                device.release();
            } else if (step.hertz == kDone) {
                device.waitUntilDone(std::size_t(step.ms));
            } else if (step.hertz == kWait) {
                std::this_thread::sleep_for(Millis(step.ms));
            } else if (step.hertz == kClose) {
                tone.reset();
                EXPECT_LT(realMs(begin), 1000) << "the close waited past the tone's end";
            } else {
                const Micros before = clock.now();
                const Steady::time_point start = Steady::now();
                tone->Beep(step.hertz, step.ms);
                EXPECT_EQ(clock.now() - before, Millis(step.ms)) << step.hertz;
                EXPECT_LT(realMs(start), 250) << "held in real time, waiting for a player";
            }
        }
        device.waitUntilDone(row.asked.size());
        tone.reset();
        std::lock_guard lock(device.mutex);
        EXPECT_EQ(device.asked, row.asked);
        EXPECT_EQ(device.heard, row.heard);
        EXPECT_EQ(device.mostInside, 1);
        for (std::size_t i = 0; i < row.left.size() && i < device.left.size(); ++i)
            EXPECT_NEAR(device.left[i], row.left[i], 50) << i;
    }
}

// What a player left behind by the close uses inside the sound library, torn down at the
// process's end. The teardown takes a while; a player coming back during it finds it gone.
struct SoundLibrary {
    std::atomic<bool> gone = false;
    ~SoundLibrary() {
        gone = true;
        std::this_thread::sleep_for(Millis(400));
        std::_Exit(0);  // the rest of the process's end is not what is looked at here
    }
};

// In a child process: a window closed while its tone's player is stuck, then the process ends.
void EndWhileAPlayerIsStuck(int lateMs) {
    static SoundLibrary library;
    VirtualClock clock;
    std::optional<SystemTone> tone(std::in_place, clock, [lateMs](int, int, auto deadline) {
        std::this_thread::sleep_until(deadline + Millis(lateMs));
        if (library.gone)
            ::_exit(7);
    });
    tone->Beep(2000, 50);
    tone.reset();
    std::exit(0);
}

TEST(ToneDeathTest, TheProcessEndWaitsABoundedTimeForAPlayerStuckInTheSoundLibrary) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        int lateMs;
        long long mostMs;  // the parent's wait, the child's start included
    } rows[] = {{200, 10000}, {10000, 8000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lateMs);
        const Steady::time_point start = Steady::now();
        EXPECT_EXIT(EndWhileAPlayerIsStuck(row.lateMs), ::testing::ExitedWithCode(0), "");
        EXPECT_LT(realMs(start), row.mostMs);
    }
}

}  // namespace
}  // namespace morlen::test
