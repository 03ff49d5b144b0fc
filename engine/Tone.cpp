#include "Tone.h"

#include <alsa/asoundlib.h>

#include <cmath>
#include <vector>

namespace morlen {

namespace {

void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// Plays the tone on the default device; returns quietly when there is none.
void play(int hertz, int milliseconds) {
    snd_lib_error_set_handler(silentAlsaErrors);
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0)
        return;
    constexpr unsigned kRate = 48000;
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kRate, 1,
                           100000) < 0) {
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
    while (done < frames) {
        const snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + done, frames - done);
        if (n < 0) {
            if (snd_pcm_recover(pcm, int(n), 1) < 0)
                break;
            continue;
        }
        done += std::size_t(n);
    }
    snd_pcm_drain(pcm);
    snd_pcm_close(pcm);
}

}  // namespace

SystemTone::~SystemTone() {
    std::lock_guard lock(mutex_);
    if (player_.joinable())
        player_.join();
}

void SystemTone::Beep(int hertz, int milliseconds) {
    {
        std::lock_guard lock(mutex_);
        if (player_.joinable())
            player_.join();
        player_ = std::thread(play, hertz, milliseconds);
    }
    clock_.sleepMs(milliseconds);
}

}  // namespace morlen
