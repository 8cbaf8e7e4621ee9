#pragma once

// The ACPI bridge stand-in: the eight iAcpi* methods over the board's firmware items,
// with the test knobs (BridgeFaults) applied and every call written to the board's
// call log. The D-Bus service (bridge_service_linux.cpp) and the automation server on
// Windows are thin wrappers that only translate arguments and errors.

#include "virtualboard/board.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace virtualboard {

enum class BridgeMethod : std::uint8_t {
    Init = 1,
    GetItem,
    GetItemEx,
    SetItem,
    SetItemBuffer,
    Mbif,
    GGrp,
    CallMethod,
};

inline constexpr BridgeMethod kBridgeMethods[] = {
    BridgeMethod::Init,    BridgeMethod::GetItem,       BridgeMethod::GetItemEx,
    BridgeMethod::SetItem, BridgeMethod::SetItemBuffer, BridgeMethod::Mbif,
    BridgeMethod::GGrp,    BridgeMethod::CallMethod};

std::string_view bridgeMethodName(BridgeMethod method); // "iAcpiGetItem", ...
std::optional<BridgeMethod> bridgeMethodByName(std::string_view name);

// Failures in automation terms, so both platforms report the same thing.
inline constexpr std::int32_t kBridgeUnknownMethod = std::int32_t(0x80020006); // DISP_E_UNKNOWNNAME
inline constexpr std::int32_t kBridgeNoSuchItem = std::int32_t(0x80070057);    // E_INVALIDARG
inline constexpr std::int32_t kBridgeReadOnly = std::int32_t(0x80070005);      // E_ACCESSDENIED
inline constexpr std::int32_t kBridgeGroupFailed = std::int32_t(0x80004005);   // E_FAIL

class BridgeCallError : public std::runtime_error {
public:
    BridgeCallError(std::int32_t status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    std::int32_t status() const { return status_; }

private:
    std::int32_t status_;
};

// A byte array with its length argument, both ways.
struct BridgeBuffer {
    std::vector<std::uint8_t> bytes;
    std::uint32_t length = 0;
};

class AcpiBridgeStandIn {
public:
    // Works on the board at `image`, opened again when `vboard create` replaces it.
    explicit AcpiBridgeStandIn(std::filesystem::path image);

    // Every method throws BridgeCallError when the call fails (an unknown item, the
    // unknown-method knob, a failing group), and BoardError when the board is gone.
    void init();
    std::uint32_t getItem(std::uint32_t id);
    // Selector a is the group, selector b the index.
    std::uint32_t getItemEx(std::uint32_t selectorA, std::uint32_t selectorB);
    void setItem(std::uint32_t id, std::uint32_t value, std::uint32_t control);
    // Accepted and logged; the buffer goes back as it came.
    BridgeBuffer setItemBuffer(std::uint32_t selector, BridgeBuffer buffer);
    // The board information package: version, product name, firmware name.
    BridgeBuffer mbif(BridgeBuffer buffer);
    // The group list; the header word of the request comes back unchanged.
    BridgeBuffer gGrp(std::uint32_t group, BridgeBuffer buffer);
    BridgeBuffer callMethod(std::uint32_t code, BridgeBuffer buffer);

    // Whether the bridge should hold its name now (the offline knob).
    bool online();
    Board& board();

private:
    struct Call;
    // The answer written over the start of the array; the array grows when the
    // answer is longer; the length becomes the answer's, shortened by the knob.
    BridgeBuffer answer(BridgeBuffer buffer, const std::vector<std::uint8_t>& reply,
                        const BridgeFaults& faults) const;

    std::filesystem::path image_;
    std::unique_ptr<Board> board_;
};

} // namespace virtualboard
