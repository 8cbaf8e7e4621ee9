#pragma once

// The exports of the vendor's port-I/O and physical-memory library, as the system
// calls them and as the virtual board's stand-in defines them. The system loads the
// library at run time and looks each function up by its name here.
//
// On 32-bit Windows the exports use the system libraries' calling convention
// (__stdcall) under their plain names; elsewhere there is only one convention. Port
// numbers travel as 32-bit values and byte values are zero-extended, so the calls
// hold whether the library declares narrower parameters or not. The system uses no
// result of a write or a release, so none is part of the contract.

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define LUMIVANE_HWIO_CALL __stdcall
#else
#define LUMIVANE_HWIO_CALL
#endif

namespace board::hwio {

// Nonzero when port and memory access are ready; called with 0 right after loading.
using OpenFn = std::uint32_t(LUMIVANE_HWIO_CALL*)(std::uint32_t zero);
// The byte read in the low 8 bits.
using InPortBFn = std::uint32_t(LUMIVANE_HWIO_CALL*)(std::uint32_t port);
using OutPortBFn = void(LUMIVANE_HWIO_CALL*)(std::uint32_t port, std::uint32_t value);
// A readable and writable view of the range, or none.
using MapMemFn = void*(LUMIVANE_HWIO_CALL*)(std::uint32_t address, std::uint32_t length);
using UnmapMemFn = void(LUMIVANE_HWIO_CALL*)(void* view, std::uint32_t zero);
// A view that allows a locked compare-and-exchange on its words, or none.
using MapPhysToLinFn = void*(LUMIVANE_HWIO_CALL*)(std::uint32_t address, std::uint32_t length,
                                                  void** handle, std::uint64_t* token);
using UnmapPhysicalMemoryFn = void(LUMIVANE_HWIO_CALL*)(void* handle, void* view,
                                                        std::uint64_t token);
// The system looks these four up and never calls them. The stand-in gives them these
// signatures; the system keeps them as addresses it must not call (UncalledFn).
using InPortDFn = std::uint32_t(LUMIVANE_HWIO_CALL*)(std::uint32_t port);
using OutPortDFn = void(LUMIVANE_HWIO_CALL*)(std::uint32_t port, std::uint32_t value);
using ReadMsrFn = std::uint32_t(LUMIVANE_HWIO_CALL*)(std::uint32_t index, std::uint64_t* value);
using WriteMsrFn = std::uint32_t(LUMIVANE_HWIO_CALL*)(std::uint32_t index, std::uint64_t value);
using UncalledFn = void (*)();

inline constexpr const char* kOpen = "HWIO_Open";
inline constexpr const char* kReadMsr = "HWIO_ReadMSR";
inline constexpr const char* kWriteMsr = "HWIO_WriteMSR";
inline constexpr const char* kInPortB = "HWIO_InPortB";
inline constexpr const char* kOutPortB = "HWIO_OutPortB";
inline constexpr const char* kInPortD = "HWIO_InPortD";
inline constexpr const char* kOutPortD = "HWIO_OutPortD";
inline constexpr const char* kMapPhysToLin = "MapPhysToLin";
inline constexpr const char* kUnmapPhysicalMemory = "UnmapPhysicalMemory";
inline constexpr const char* kMapMem = "HWIO_MapMem";
inline constexpr const char* kUnmapMem = "HWIO_UnmapMem";

} // namespace board::hwio
