#include "board/acpi_items.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace board {

AcpiItemLibrary& AcpiItemLibrary::platform() {
    static AcpiItemLibrary* library = new AcpiItemLibrary(platformBridgeTransport());
    return *library;
}

int AcpiItemLibrary::scalarCall(std::string_view method, std::span<BridgeArgument> arguments) {
    BridgeStatus status = kBridgeFailed;
    std::unique_ptr<BridgeSession> session = transport_.open(status);
    if (!session)
        return 0;
    status = session->invoke(method, arguments);
    return status >= 0 ? 1 : 0;
}

int AcpiItemLibrary::init() {
    return scalarCall("iAcpiInit", {});
}

int AcpiItemLibrary::getItem(std::uint32_t id, std::uint32_t* result) {
    // The bridge writes through the pointer; a null one would be written through.
    if (!result)
        return 0;
    std::array<BridgeArgument, 2> arguments{BridgeIn{id}, BridgeOut{result}};
    return scalarCall("iAcpiGetItem", arguments);
}

int AcpiItemLibrary::getItemEx(std::uint32_t selectorA, std::uint32_t selectorB,
                               std::uint32_t* result) {
    if (!result)
        return 0;
    std::array<BridgeArgument, 3> arguments{BridgeIn{selectorA}, BridgeIn{selectorB},
                                            BridgeOut{result}};
    return scalarCall("iAcpiGetItemEx", arguments);
}

int AcpiItemLibrary::setItem(std::uint32_t id, std::uint32_t value, std::uint32_t control) {
    std::array<BridgeArgument, 3> arguments{BridgeIn{id}, BridgeIn{value}, BridgeIn{control}};
    return scalarCall("iAcpiSetItem", arguments);
}

int AcpiItemLibrary::bufferCall(std::string_view method, std::optional<std::uint32_t> leading,
                                std::uint8_t* buffer, std::uint32_t* length,
                                bool markGroupRequest) {
    if (!buffer || !length)
        return 0;
    BridgeStatus status = kBridgeFailed;
    std::unique_ptr<BridgeSession> session = transport_.open(status);
    if (!session)
        return 0;

    const std::uint32_t sent = *length;
    BridgeByteArray array;
    try {
        array.bytes.resize(sent);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    // Only a buffer that has a first byte gets the marker; a zero length promises none.
    if (markGroupRequest && sent > 0)
        buffer[0] = kGroupRequestMarker;
    if (sent > 0)
        std::memcpy(array.bytes.data(), buffer, sent);

    std::uint32_t returnedLength = sent;
    std::array<BridgeArgument, 3> arguments{BridgeIn{leading.value_or(0)}, BridgeBytes{&array},
                                            BridgeLength{&returnedLength}};
    std::span<BridgeArgument> passed(arguments);
    if (!leading)
        passed = passed.subspan(1);
    // Whether the call itself succeeded does not matter: what came back does.
    session->invoke(method, passed);
    session.reset();

    if (!array.present)
        return 0;
    const std::size_t copied = std::min<std::size_t>({returnedLength, sent, array.bytes.size()});
    if (copied > 0)
        std::memcpy(buffer, array.bytes.data(), copied);
    *length = std::uint32_t(copied);
    return 1;
}

int AcpiItemLibrary::setItemBuffer(std::uint32_t /*unused*/, std::uint32_t selector,
                                   std::uint8_t* buffer, std::uint32_t* length) {
    return bufferCall("iAcpiSetItemBuffer", selector, buffer, length, false);
}

int AcpiItemLibrary::mbif(std::uint8_t* buffer, std::uint32_t* length) {
    return bufferCall("iAcpiMbif", std::nullopt, buffer, length, false);
}

int AcpiItemLibrary::gGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) {
    return bufferCall("iAcpiGGrp", group, buffer, length, true);
}

int AcpiItemLibrary::callMethod(const std::uint32_t* code, std::uint8_t* buffer,
                                std::uint32_t* length) {
    if (!code)
        return 0;
    return bufferCall("iAcpiCallMethod", *code, buffer, length, false);
}

} // namespace board
