#include "tools/tour/tune.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <pulse/error.h>
#include <pulse/simple.h>

namespace tour {
namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kFadeFrames = kRate / 200; // 5 ms
constexpr double kAmplitude = 16000.0;

int framesOf(const Note& note) {
    return kRate / 1000 * note.milliseconds;
}

} // namespace

std::vector<std::int16_t> synthesise(const std::vector<Note>& notes) {
    std::vector<std::int16_t> samples;
    for (const Note& note : notes) {
        const int frames = framesOf(note);
        for (int i = 0; i < frames; ++i) {
            const double fade =
                std::min({1.0, double(i) / kFadeFrames, double(frames - 1 - i) / kFadeFrames});
            const double phase = 2.0 * std::numbers::pi * note.hertz * i / kRate;
            const auto value = std::int16_t(std::lround(kAmplitude * fade * std::cos(phase)));
            samples.insert(samples.end(), kChannels, value);
        }
    }
    return samples;
}

std::string play(const std::vector<Note>& notes, const std::function<void(std::size_t)>& onNote) {
    const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, kChannels};
    pa_buffer_attr attr{std::uint32_t(-1), std::uint32_t(pa_usec_to_bytes(20000, &format)),
                        std::uint32_t(-1), std::uint32_t(-1), std::uint32_t(-1)};
    int error = 0;
    pa_simple* player = pa_simple_new(nullptr, "lumivane tour", PA_STREAM_PLAYBACK, nullptr, "tune",
                                      &format, nullptr, &attr, &error);
    if (!player)
        return std::string("no sound server: ") + pa_strerror(error);

    // Written note by note in 10 ms pieces, so that onNote comes when the note is heard
    // (give or take the 20 ms the server holds).
    std::string failure;
    for (std::size_t n = 0; n < notes.size() && failure.empty(); ++n) {
        onNote(n);
        const std::vector<std::int16_t> samples = synthesise({notes[n]});
        const std::size_t piece = std::size_t(kRate / 100 * kChannels);
        for (std::size_t at = 0; at < samples.size(); at += piece) {
            const std::size_t count = std::min(piece, samples.size() - at);
            if (pa_simple_write(player, samples.data() + at, count * sizeof(std::int16_t),
                                &error) != 0) {
                failure = std::string("playing failed: ") + pa_strerror(error);
                break;
            }
        }
    }
    if (failure.empty())
        pa_simple_drain(player, &error);
    pa_simple_free(player);
    return failure;
}

} // namespace tour
