#pragma once

// A short tune synthesised for the music step and played into the default output.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tour {

struct Note {
    double hertz;
    int milliseconds;
};

// 48000 frames a second, two channels, 16-bit: the notes one after the other, each
// faded in and out over a few milliseconds so that its edges do not click.
std::vector<std::int16_t> synthesise(const std::vector<Note>& notes);

// Plays the notes into the default output at low latency (a default-latency player
// renders seconds ahead into a null output), calling onNote(i) as note i starts.
// Empty when it played; else what went wrong.
std::string play(const std::vector<Note>& notes, const std::function<void(std::size_t)>& onNote);

} // namespace tour
