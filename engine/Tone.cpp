#include "Tone.h"

#include <alsa/asoundlib.h>

#include <cmath>
#include <condition_variable>
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

struct SystemTone::Playing {
    std::mutex mutex;
    std::condition_variable ended;
    bool over = false;
    std::chrono::steady_clock::time_point deadline;
};

SystemTone::SystemTone(Clock& clock, TonePlayer player)
    : clock_(clock), player_(std::move(player)) {}

SystemTone::~SystemTone() {
    std::lock_guard lock(mutex_);
    finishPrevious();
}

void SystemTone::finishPrevious() {
    if (!thread_.joinable())
        return;
    bool over = false;
    {
        std::unique_lock lock(playing_->mutex);
        over =
            playing_->ended.wait_until(lock, playing_->deadline, [this] { return playing_->over; });
    }
    if (over) {
        thread_.join();
    } else {
        thread_.detach();  // it owns its share of the state and ends when the device lets it
    }
    playing_.reset();
}

void SystemTone::Beep(int hertz, int milliseconds) {
    {
        std::lock_guard lock(mutex_);
        finishPrevious();
        auto playing = std::make_shared<Playing>();
        playing->deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        playing_ = playing;
        thread_ = std::thread([player = player_, playing, hertz, milliseconds] {
            player(hertz, milliseconds, playing->deadline);
            std::lock_guard done(playing->mutex);
            playing->over = true;
            playing->ended.notify_all();
        });
    }
    clock_.sleepMs(milliseconds);
}

}  // namespace morlen
