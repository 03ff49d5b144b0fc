#include "Tone.h"

#include <alsa/asoundlib.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace morlen {

namespace {

void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

}  // namespace

void PlayOnSoundDevice(int hertz, int milliseconds,
                       std::chrono::steady_clock::time_point deadline) {
    snd_lib_error_set_handler(silentAlsaErrors);
    snd_pcm_t* pcm = nullptr;
    // Without blocking: a busy device must not hold the tone's caller.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return;
    constexpr unsigned kRate = 48000;
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kRate, 1,
                           50000) < 0) {
        snd_pcm_close(pcm);
        return;
    }
    const std::size_t frames = std::size_t(kRate) * std::size_t(milliseconds) / 1000;
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<std::int16_t>(
            9000.0 * std::sin(2.0 * M_PI * hertz * double(i) / double(kRate)));
    }
    std::size_t done = 0;
    while (done < frames && millisecondsUntil(deadline) > 0) {
        const snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + done, frames - done);
        if (n == -EAGAIN) {
            snd_pcm_wait(pcm, millisecondsUntil(deadline));
            continue;
        }
        if (n < 0) {
            if (snd_pcm_recover(pcm, int(n), 1) < 0)
                break;
            continue;
        }
        done += std::size_t(n);
    }
    // The buffer plays out until the tone's length is over; then the device is let go.
    std::this_thread::sleep_until(deadline);
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
}

namespace {

using Steady = std::chrono::steady_clock;

struct Request {
    int hertz;
    int milliseconds;
    Steady::time_point deadline;
};

// The players running in the process. Never destroyed: one left behind may still count itself
// out while the process ends.
struct Players {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};

Players& players() {
    static auto* const all = new Players;
    return *all;
}

// The sound library tears itself down after the program's own exit handlers; a player still
// inside it then may crash the process's end. A player comes out by its tone's end unless the
// device stalls, so give it a moment; one stuck for good stays in the call it waits in.
constexpr auto kExitWait = std::chrono::seconds(1);

void waitForPlayersAtExit() {
    Players& all = players();
    std::unique_lock lock(all.mutex);
    all.ended.wait_for(lock, kExitWait, [&] { return all.running == 0; });
}

}  // namespace

struct SystemTone::Shared {
    explicit Shared(TonePlayer p) : player(std::move(p)) {}

    const TonePlayer player;
    std::mutex mutex;
    std::condition_variable ended;
    bool playing = false;  // a player thread exists
    Steady::time_point end;
    std::optional<Request> next;  // asked for while it plays
};

SystemTone::SystemTone(Clock& clock, TonePlayer player)
    : clock_(clock), shared_(std::make_shared<Shared>(std::move(player))) {}

SystemTone::~SystemTone() {
    std::unique_lock lock(shared_->mutex);
    shared_->next.reset();  // no tone after the close
    shared_->ended.wait_until(lock, shared_->end, [this] { return !shared_->playing; });
}

void SystemTone::Beep(int hertz, int milliseconds) {
    [[maybe_unused]] static const bool waitsAtExit = std::atexit(waitForPlayersAtExit) == 0;
    Request tone{hertz, milliseconds, Steady::now() + std::chrono::milliseconds(milliseconds)};
    std::unique_lock lock(shared_->mutex);
    if (shared_->playing) {
        shared_->next = tone;  // a later tone replaces one still waiting: it ends later
    } else {
        shared_->playing = true;
        shared_->end = tone.deadline;
        {
            std::lock_guard count(players().mutex);
            ++players().running;
        }
        std::thread([shared = shared_, tone]() mutable {
            for (;;) {
                shared->player(tone.hertz, tone.milliseconds, tone.deadline);
                std::lock_guard lock(shared->mutex);
                if (shared->next && shared->next->deadline > Steady::now()) {
                    tone = *shared->next;
                    shared->next.reset();
                    shared->end = tone.deadline;
                    continue;
                }
                shared->next.reset();
                shared->playing = false;
                shared->ended.notify_all();
                break;
            }
            std::lock_guard count(players().mutex);
            --players().running;
            players().ended.notify_all();
        }).detach();
    }
    lock.unlock();
    clock_.sleepMs(milliseconds);
}

}  // namespace morlen
