#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace os {

// A signal between threads: auto-reset (one waiter released per set) or manual-reset
// (stays set until reset). A name makes it a system-wide event on Windows, where
// another process can open it; on Linux the name is only kept.
class Event {
public:
    enum class Reset { Automatic, Manual };
    // Failed: the wait itself could not be made (Windows); a loop paced by waits must
    // stop on it rather than spin.
    enum class WaitResult { Signalled, TimedOut, Failed };

    static constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

    explicit Event(Reset reset, bool initiallySet = false, std::string name = {});
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    WaitResult wait(std::uint32_t milliseconds = kInfinite);

    const std::string& name() const { return name_; }
    // The Windows HANDLE, for waits on several objects; nullptr on Linux.
    void* nativeHandle() const;

private:
    struct Impl;
    std::string name_;
    std::unique_ptr<Impl> impl_;
};

} // namespace os
