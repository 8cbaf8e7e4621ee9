#pragma once

// The firmware's ACPI global lock. The embedded controller is shared with the
// firmware; work on it that the firmware must not interleave with is bracketed by
// the lock word in the FACS, which the tables (FADT, reached through the system's
// firmware-table service or by a scan for the RSDP) locate.

#include "board/hwio.h"

#include <cstdint>

namespace board {

inline constexpr std::uint32_t kGlobalLockAttempts = 1500;

// Copies the ACPI table with the given signature (as firmware-table ids take it,
// 'FACP' = 0x50434146) into buffer, at most size bytes. 1 when copied, else 0.
int GetAcpiTable(std::uint32_t signature, void* buffer, std::uint32_t size);
// The physical address of the table, found through the RSDP and RSDT; 0 if none.
std::uint32_t FindAcpiTableAddress(std::uint32_t signature);

struct GlobalLockResult {
    enum class Status {
        Obtained,
        NotObtained,  // the attempts ran out while someone else held it
        NoLibrary,    // the I/O library or its mapping function is missing
        NoTables,     // no FADT: neither the table service nor the RSDP scan found it
        NoFacs,       // the FADT names no FACS
        MappingFailed // the FACS could not be mapped
    };
    Status status;
    std::uint32_t attempts; // compare-and-exchange attempts made

    bool obtained() const { return status == Status::Obtained; }
};

// Tries to take the lock, sleeping 1 ms between attempts; attempts 0 means until it
// is taken. Unlike the firmware's own callers we tell whether it was taken: only a
// holder may release, or it would clear the firmware's ownership.
GlobalLockResult TryAcquireGlobalLock(std::uint32_t attempts);
inline bool AcquireGlobalLock(std::uint32_t attempts) {
    return TryAcquireGlobalLock(attempts).obtained();
}
// Clears owned and pending; when the firmware was waiting, signals it through the
// PM1a registers.
void ReleaseGlobalLock();

// Holds the lock for a scope when it could be taken; releases only what it took.
class ScopedGlobalLock {
public:
    explicit ScopedGlobalLock(std::uint32_t attempts = kGlobalLockAttempts)
        : held_(AcquireGlobalLock(attempts)) {}
    ~ScopedGlobalLock() {
        if (held_)
            ReleaseGlobalLock();
    }
    ScopedGlobalLock(const ScopedGlobalLock&) = delete;
    ScopedGlobalLock& operator=(const ScopedGlobalLock&) = delete;

    bool held() const { return held_; }

private:
    bool held_;
};

namespace acpi {

// The tables' fields the lock needs, fetched once and kept for the process.
std::uint16_t pm1aEventBlock();
std::uint16_t pm1aControlBlock();
std::uint32_t facsAddress();

// Forgets what was fetched, for tests that change the board under the process.
void forgetCachedTables();

// The same operations over explicitly given functions, for tests that stand in for
// the I/O library in-process.
std::uint32_t findTableAddress(const HwIOFunctions& io, std::uint32_t signature);
int getTable(const HwIOFunctions& io, std::uint32_t signature, void* buffer, std::uint32_t size);
GlobalLockResult tryAcquire(const HwIOFunctions& io, std::uint32_t attempts);
void release(const HwIOFunctions& io);

} // namespace acpi
} // namespace board
