#pragma once

// The exports of the HwIO stand-in, as programs look them up by name. On 32-bit
// Windows they use the system's usual library calling convention (__stdcall) and
// are exported under their plain names; elsewhere there is only one convention.
//
// Ports are 16-bit values passed in 32-bit arguments; a byte value travels in the low
// 8 bits. Results are 32-bit, nonzero meaning success where a result is a success.

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define HWIO_CALL __stdcall
#else
#define HWIO_CALL
#endif

namespace hwio {

using OpenFunction = std::uint32_t(HWIO_CALL*)(std::uint32_t reserved);
using InPortBFunction = std::uint32_t(HWIO_CALL*)(std::uint32_t port);
using OutPortBFunction = std::uint32_t(HWIO_CALL*)(std::uint32_t port, std::uint32_t value);
using InPortDFunction = std::uint32_t(HWIO_CALL*)(std::uint32_t port);
using OutPortDFunction = std::uint32_t(HWIO_CALL*)(std::uint32_t port, std::uint32_t value);
// The MSR entries exist for completeness; the system looks them up and never calls them.
using ReadMsrFunction = std::uint32_t(HWIO_CALL*)(std::uint32_t index, std::uint64_t* value);
using WriteMsrFunction = std::uint32_t(HWIO_CALL*)(std::uint32_t index, std::uint64_t value);
using MapMemFunction = void*(HWIO_CALL*)(std::uint32_t physicalAddress, std::uint32_t length);
using UnmapMemFunction = std::uint32_t(HWIO_CALL*)(void* view, std::uint32_t reserved);
using MapPhysToLinFunction = void*(HWIO_CALL*)(std::uint32_t physicalAddress, std::uint32_t length,
                                               void** handle, std::uint64_t* token);
using UnmapPhysicalMemoryFunction = std::uint32_t(HWIO_CALL*)(void* handle, void* view,
                                                              std::uint64_t token);

} // namespace hwio
