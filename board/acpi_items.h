#pragma once

// The firmware item operations: each one opens the vendor's ACPI bridge afresh, calls
// one of its iAcpi* methods by name and reports 1 for success, 0 for failure. Both
// programs export them as AcpiInit, AcpiGetItem, ... (acpi_exports.h); the BIOS item
// model calls them through an AcpiItemLibrary of its own.
//
// Scalar operations succeed when the invocation does. Buffer operations succeed when
// the byte array came back; they send the caller's *length bytes of the buffer and copy
// back what the bridge returned, never more than was sent nor more than the returned
// array holds, and set *length to the number of bytes copied back. When no array comes
// back nothing is copied, *length keeps its value, and the result is 0.

#include "board/acpi_bridge.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace board {

// The first byte of the group buffer is set to this before every iAcpiGGrp.
inline constexpr std::uint8_t kGroupRequestMarker = 0xE1;

class AcpiItemLibrary {
public:
    explicit AcpiItemLibrary(BridgeTransport& transport) : transport_(transport) {}

    // The library over the platform's bridge, as the exported functions use it.
    static AcpiItemLibrary& platform();

    int init();
    int getItem(std::uint32_t id, std::uint32_t* result);
    int getItemEx(std::uint32_t selectorA, std::uint32_t selectorB, std::uint32_t* result);
    int setItem(std::uint32_t id, std::uint32_t value, std::uint32_t control);
    // `unused` is accepted for the exported signature's sake and never looked at.
    int setItemBuffer(std::uint32_t unused, std::uint32_t selector, std::uint8_t* buffer,
                      std::uint32_t* length);
    int mbif(std::uint8_t* buffer, std::uint32_t* length);
    int gGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length);
    // Sends the code `code` points at, not the pointer.
    int callMethod(const std::uint32_t* code, std::uint8_t* buffer, std::uint32_t* length);

private:
    int scalarCall(std::string_view method, std::span<BridgeArgument> arguments);
    int bufferCall(std::string_view method, std::optional<std::uint32_t> leading,
                   std::uint8_t* buffer, std::uint32_t* length, bool markGroupRequest);

    BridgeTransport& transport_;
};

} // namespace board
