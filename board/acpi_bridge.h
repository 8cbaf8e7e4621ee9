#pragma once

// The road to the vendor's ACPI bridge: "call method NAME with these arguments".
// The item library (acpi_items.h) decides what to send and what a result means; a
// transport only carries the call: COM automation on Windows (acpi_bridge_win.cpp),
// D-Bus on Linux (acpi_bridge_linux.cpp), a scripted fake in tests.
//
// Arguments mirror the automation types the bridge is called with:
//   BridgeIn      VT_UI4               a 32-bit value
//   BridgeOut     VT_BYREF|VT_UI4      the bridge may write a 32-bit result through it
//   BridgeBytes   VT_BYREF|VT_VARIANT  a byte array the bridge may replace
//   BridgeLength  VT_BYREF|VT_UI4      the array's length, which the bridge may change

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

namespace board {

// The bridge's name: its ProgID on Windows; its bus name and interface on D-Bus
// (data/dbus/tavlexCom.axdata.xml), where it serves this object.
inline constexpr std::string_view kAcpiBridgeName = "tavlexCom.axdata";
inline constexpr std::string_view kAcpiBridgeObjectPath = "/axdata";

// Invocation status in HRESULT terms: negative is failure.
using BridgeStatus = std::int32_t;
inline constexpr BridgeStatus kBridgeOk = 0;
inline constexpr BridgeStatus kBridgeFailed = std::int32_t(0x80004005);      // E_FAIL
inline constexpr BridgeStatus kBridgeUnknownName = std::int32_t(0x80020006); // DISP_E_UNKNOWNNAME
inline constexpr BridgeStatus kBridgeUnavailable = std::int32_t(0x800401F3); // CO_E_CLASSSTRING
inline constexpr BridgeStatus kBridgeOutOfMemory = std::int32_t(0x8007000E); // E_OUTOFMEMORY

// The byte array of a buffer exchange. On the way in `bytes` holds what is sent; on the
// way back it holds the array the bridge left, cut to the size that went out (the
// caller can take no more), and `present` is false when the bridge left none (or one
// the transport could not read back).
struct BridgeByteArray {
    std::vector<std::uint8_t> bytes;
    bool present = true;
};

struct BridgeIn {
    std::uint32_t value;
};
struct BridgeOut {
    std::uint32_t* target;
};
struct BridgeBytes {
    BridgeByteArray* array;
};
struct BridgeLength {
    std::uint32_t* length;
};

using BridgeArgument = std::variant<BridgeIn, BridgeOut, BridgeBytes, BridgeLength>;

// One opened bridge object. Released when destroyed; never kept between operations.
class BridgeSession {
public:
    virtual ~BridgeSession() = default;
    // Calls `method` with `arguments` in the method's parameter order. Outputs are
    // written only when the bridge produced them; on a failed call they keep their
    // values (a byte array then still holds what was sent).
    virtual BridgeStatus invoke(std::string_view method, std::span<BridgeArgument> arguments) = 0;
};

class BridgeTransport {
public:
    virtual ~BridgeTransport() = default;
    // Opens a fresh bridge object; none (with `status` < 0) when the bridge cannot be
    // reached: not installed, its server not starting, no automation on this thread.
    virtual std::unique_ptr<BridgeSession> open(BridgeStatus& status) = 0;
};

// The platform's transport to the real bridge: process-wide, stateless, never destroyed.
BridgeTransport& platformBridgeTransport();

} // namespace board
