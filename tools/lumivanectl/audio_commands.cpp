#include "audio_commands.h"

#include "audio/band_analysis.h"
#include "audio/loopback_capture.h"
#include "command_table.h"
#include "json_output.h"
#include "service/color_step.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include "os/com_apartment.h"
#endif

namespace lumivanectl {
namespace {

std::uint32_t le(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

std::string bandsLine(const std::vector<float>& bands) {
    char line[96];
    std::snprintf(line, sizeof line, "%.9g %.9g %.9g", double(bands.at(0)), double(bands.at(1)),
                  double(bands.at(2)));
    return line;
}

// Packets of `frames` frames in order; the last may be shorter, as a capture's can.
template <typename Each>
void forEachPacket(const PcmAudio& audio, std::uint32_t frames, Each each) {
    const std::size_t frameBytes = std::size_t(audio.channels) * 2;
    const std::uint32_t total = audio.frameCount();
    for (std::uint32_t at = 0; at < total; at += frames)
        each(audio.frames.data() + at * frameBytes, std::min(frames, total - at));
}

} // namespace

std::uint32_t parseCount(const std::string& text, const char* what) {
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0)
        throw UsageError(std::string(what) + " must be a whole number above 0: \"" + text + "\"");
    return value;
}

int audioAnalyse(const Invocation& call) {
    const std::vector<std::string>& words = call.words;
    std::ostream& out = call.out;
    if (words.size() != 3)
        throw UsageError("audio analyse takes FILE.wav");
    if (call.frames > (1u << 24))
        throw UsageError("--frames is too large");
    const PcmAudio audio = readWav(words[2]);
    const std::uint32_t frames = call.frames ? call.frames : std::max(1u, audio.sampleRate / 100);
    if (!call.json)
        out << "# packet frames low mid high\n";
    std::uint32_t packet = 0;
    Json packets = Json::array();
    const service::KISS_FFT fft(3);
    forEachPacket(audio, frames, [&](const std::uint8_t* samples, std::uint32_t n) {
        const auto bands = fft.transform(samples, std::int32_t(n), audio.channels);
        if (call.json)
            packets.push_back({{"frames", n}, {"bands", bands}});
        else
            out << packet++ << ' ' << n << ' ' << bandsLine(bands) << '\n';
    });
    if (call.json)
        writeJson(out, {{"sampleRate", audio.sampleRate},
                        {"channels", audio.channels},
                        {"packets", std::move(packets)}});
    return kExitOk;
}

int audioColors(const Invocation& call) {
    const std::vector<std::string>& words = call.words;
    std::ostream& out = call.out;
    if (words.size() != 3)
        throw UsageError("audio colors takes FILE.wav");
    const PcmAudio audio = readWav(words[2]);
    // One 10 ms packet per 10 ms colour cycle, as when the capture keeps pace.
    const std::uint32_t frames = std::max(1u, audio.sampleRate / 100);
    if (!call.json)
        out << "# cycle red green blue\n";
    Json cycles = Json::array();
    service::ColorState state;
    service::BandValues bands;
    std::uint32_t cycle = 0;
    const service::KISS_FFT fft(3);
    forEachPacket(audio, frames, [&](const std::uint8_t* samples, std::uint32_t n) {
        const auto values = fft.transform(samples, std::int32_t(n), audio.channels);
        if (values.size() == 3)
            bands = {values[0], values[1], values[2]};
        const service::Rgb c = service::nextColor(state, bands);
        if (call.json)
            cycles.push_back({{"red", c.red}, {"green", c.green}, {"blue", c.blue}});
        else
            out << cycle++ << ' ' << int(c.red) << ' ' << int(c.green) << ' ' << int(c.blue)
                << '\n';
    });
    if (call.json)
        writeJson(out, {{"cycles", std::move(cycles)}});
    return kExitOk;
}

int audioCapture(const Invocation& call) {
    const std::vector<std::string>& words = call.words;
    std::ostream& out = call.out;
    std::ostream& err = call.err;
    if (words.size() != 3)
        throw UsageError("audio capture takes SECONDS");
    const std::uint32_t seconds = parseCount(words[2], "SECONDS");
#ifdef _WIN32
    os::ComApartment com(os::ComApartment::Kind::MultiThreaded);
#endif
    std::mutex outMutex;
    // The run's closing line (passes and frames) is part of the report; anything
    // else the capture prints is a diagnostic.
    auto previous = service::setCapturePrintSink([&](const std::string& line) {
        std::lock_guard lock(outMutex);
        (line.rfind("Received stop event", 0) == 0 ? out : err) << line;
    });
    std::uint32_t packets = 0;
    const service::KISS_FFT fft(3);
    service::LoopbackCapture capture;
    capture.setCallback([&](const std::uint8_t* samples, std::uint32_t frames, std::uint32_t flags,
                            std::uint32_t channels) {
        const std::string bands = bandsLine(fft.transform(samples, std::int32_t(frames), channels));
        std::lock_guard lock(outMutex);
        out << packets++ << " frames " << frames << " channels " << channels << " flags " << flags
            << " bands " << bands << '\n';
    });
    out << "# packet frames channels flags bands(low mid high)\n";
    capture.start();
    const bool streamed = capture.active() && capture.waitStreaming(5000);
    if (streamed)
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
    capture.stop(); // prints the passes and frames of the run
    service::setCapturePrintSink(previous);
    out << "# " << capture.frameCount() << " frames in " << packets << " packets\n";
    if (!streamed || capture.result() != 0) {
        err << "lumivanectl: the capture did not run\n";
        return kExitFailed;
    }
    return kExitOk;
}

PcmAudio readWav(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + file.string());
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    auto fail = [&](const std::string& why) {
        return std::runtime_error(file.string() + ": " + why);
    };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        throw fail("not a WAV file");

    PcmAudio audio;
    bool haveFormat = false, haveData = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size() && !haveData) {
        const std::uint8_t* chunk = bytes.data() + at;
        const std::size_t size = le(chunk + 4, 4);
        if (size > bytes.size() - at - 8)
            throw fail("a chunk runs past the end of the file");
        const std::uint8_t* body = chunk + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16)
                throw fail("format chunk too short");
            std::uint32_t tag = le(body, 2);
            if (tag == 0xFFFE && size >= 40)
                tag = le(body + 24, 2); // the sub-format's first two bytes hold the tag
            const std::uint32_t bits = le(body + 14, 2);
            if (tag != 1 || bits != 16)
                throw fail("only 16-bit integer samples are supported");
            audio.channels = le(body + 2, 2);
            audio.sampleRate = le(body + 4, 4);
            if (audio.channels == 0 || audio.sampleRate == 0)
                throw fail("no channels or no sample rate");
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                throw fail("data before the format chunk");
            const std::size_t usable = size - size % (std::size_t(audio.channels) * 2);
            audio.frames.assign(body, body + usable);
            haveData = true;
        }
        at += 8 + size + (size & 1);
    }
    if (!haveFormat || !haveData)
        throw fail("no format or no data chunk");
    return audio;
}

} // namespace lumivanectl
