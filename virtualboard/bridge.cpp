#include "virtualboard/bridge.h"

#include "virtualboard/firmware.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace virtualboard {

namespace {

std::string hexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::uint32_t headerOf(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t header = 0;
    for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i)
        header |= std::uint32_t(bytes[i]) << (8 * i);
    return header;
}

} // namespace

std::string_view bridgeMethodName(BridgeMethod method) {
    switch (method) {
    case BridgeMethod::Init:
        return "iAcpiInit";
    case BridgeMethod::GetItem:
        return "iAcpiGetItem";
    case BridgeMethod::GetItemEx:
        return "iAcpiGetItemEx";
    case BridgeMethod::SetItem:
        return "iAcpiSetItem";
    case BridgeMethod::SetItemBuffer:
        return "iAcpiSetItemBuffer";
    case BridgeMethod::Mbif:
        return "iAcpiMbif";
    case BridgeMethod::GGrp:
        return "iAcpiGGrp";
    case BridgeMethod::CallMethod:
        return "iAcpiCallMethod";
    }
    return "?";
}

std::optional<BridgeMethod> bridgeMethodByName(std::string_view name) {
    for (BridgeMethod method : kBridgeMethods)
        if (bridgeMethodName(method) == name)
            return method;
    return std::nullopt;
}

// One call from arrival to answer: applies the delay and the unknown-method knob on
// the way in, and writes the log record on every way out.
struct AcpiBridgeStandIn::Call {
    Call(AcpiBridgeStandIn& bridge, BridgeMethod method,
         std::initializer_list<std::uint32_t> arguments, const BridgeBuffer* buffer = nullptr)
        : board(bridge.board()), faults(board.bridge().faults()) {
        record.method = std::uint8_t(method);
        record.argumentCount = std::uint8_t(std::min<std::size_t>(arguments.size(), 3));
        std::copy_n(arguments.begin(), record.argumentCount, record.arguments);
        if (buffer) {
            record.lengthIn = buffer->length;
            record.headerIn = headerOf(buffer->bytes);
        }
        if (faults.delayMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(faults.delayMs));
        unknown = bridgeMethodName(method) ==
                  std::string_view(faults.unknownMethod,
                                   strnlen(faults.unknownMethod, sizeof faults.unknownMethod));
    }
    // Throws, once the call is on its way to the log, when the knob hides the method.
    void admit() {
        if (unknown)
            fail(kBridgeUnknownMethod,
                 "the bridge has no method " +
                     std::string(bridgeMethodName(BridgeMethod(record.method))));
    }
    ~Call() { board.bridge().logCall(record); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    [[noreturn]] void fail(std::int32_t status, const std::string& message) {
        record.status = status;
        throw BridgeCallError(status, message);
    }

    Board& board;
    BridgeFaults faults;
    CallRecord record{};
    bool unknown = false;
};

AcpiBridgeStandIn::AcpiBridgeStandIn(std::filesystem::path image)
    : image_(std::move(image)), board_(Board::open(image_)) {}

Board& AcpiBridgeStandIn::board() {
    if (board_->superseded())
        board_ = Board::open(image_);
    return *board_;
}

bool AcpiBridgeStandIn::online() {
    return board().bridge().faults().offline == 0;
}

BridgeBuffer AcpiBridgeStandIn::answer(BridgeBuffer buffer, const std::vector<std::uint8_t>& reply,
                                       const BridgeFaults& faults) const {
    if (reply.size() > buffer.bytes.size())
        buffer.bytes.resize(reply.size());
    std::copy(reply.begin(), reply.end(), buffer.bytes.begin());
    buffer.length = std::uint32_t(reply.size());
    if (faults.shorten)
        buffer.length = std::min(buffer.length, faults.shortenTo);
    return buffer;
}

void AcpiBridgeStandIn::init() {
    Call call(*this, BridgeMethod::Init, {});
    call.admit();
}

std::uint32_t AcpiBridgeStandIn::getItem(std::uint32_t id) {
    Call call(*this, BridgeMethod::GetItem, {id});
    call.admit();
    const std::optional<std::uint32_t> value = call.board.items().read(id);
    if (!value)
        call.fail(kBridgeNoSuchItem, "no item " + hexText(id));
    call.record.result = *value;
    return *value;
}

std::uint32_t AcpiBridgeStandIn::getItemEx(std::uint32_t selectorA, std::uint32_t selectorB) {
    Call call(*this, BridgeMethod::GetItemEx, {selectorA, selectorB});
    call.admit();
    const std::uint32_t id = (selectorA & 0xFF) << 24 | (selectorB & 0xFFFF);
    const std::optional<std::uint32_t> value =
        selectorA > 0xFF || selectorB > 0xFFFF ? std::nullopt : call.board.items().read(id);
    if (!value)
        call.fail(kBridgeNoSuchItem,
                  "no item at " + hexText(selectorA) + ", " + hexText(selectorB));
    call.record.result = *value;
    return *value;
}

void AcpiBridgeStandIn::setItem(std::uint32_t id, std::uint32_t value, std::uint32_t control) {
    Call call(*this, BridgeMethod::SetItem, {id, value, control});
    call.admit();
    switch (call.board.items().write(id, value, control)) {
    case ItemWrite::Done:
        return;
    case ItemWrite::NoSuchItem:
        call.fail(kBridgeNoSuchItem, "no item " + hexText(id));
    case ItemWrite::ReadOnly:
        call.fail(kBridgeReadOnly, "item " + hexText(id) + " is read-only");
    }
}

BridgeBuffer AcpiBridgeStandIn::setItemBuffer(std::uint32_t selector, BridgeBuffer buffer) {
    Call call(*this, BridgeMethod::SetItemBuffer, {selector}, &buffer);
    call.admit();
    std::vector<std::uint8_t> same(buffer.bytes.begin(),
                                   buffer.bytes.begin() +
                                       std::min<std::size_t>(buffer.length, buffer.bytes.size()));
    BridgeBuffer out = answer(std::move(buffer), same, call.faults);
    call.record.lengthOut = out.length;
    return out;
}

BridgeBuffer AcpiBridgeStandIn::mbif(BridgeBuffer buffer) {
    Call call(*this, BridgeMethod::Mbif, {}, &buffer);
    call.admit();
    const std::vector<std::uint8_t> info = PackageBuilder()
                                               .number(0x00010002)
                                               .text(call.board.facts().productName)
                                               .text("Lumivane virtual board firmware")
                                               .build();
    BridgeBuffer out = answer(std::move(buffer), info, call.faults);
    call.record.lengthOut = out.length;
    return out;
}

BridgeBuffer AcpiBridgeStandIn::gGrp(std::uint32_t group, BridgeBuffer buffer) {
    Call call(*this, BridgeMethod::GGrp, {group}, &buffer);
    call.admit();
    if (call.faults.failGroupSet && call.faults.failGroup == group)
        call.fail(kBridgeGroupFailed, "group " + hexText(group) + " cannot be enumerated");
    std::vector<std::uint32_t> codes;
    for (const FirmwareItem& item : call.board.items().all())
        if (itemGroup(item.id) == group)
            codes.push_back(item.methodCode);
    BridgeBuffer out =
        answer(std::move(buffer), groupListOf(codes, call.record.headerIn), call.faults);
    call.record.lengthOut = out.length;
    return out;
}

BridgeBuffer AcpiBridgeStandIn::callMethod(std::uint32_t code, BridgeBuffer buffer) {
    Call call(*this, BridgeMethod::CallMethod, {code}, &buffer);
    call.admit();
    const std::optional<FirmwareItem> item = call.board.items().byMethodCode(code);
    if (!item)
        call.fail(kBridgeNoSuchItem, "no method " + hexText(code));
    std::vector<std::uint8_t> descriptor = item->descriptor;
    if (call.faults.malformedItem && itemKey(call.faults.malformedItem) == itemKey(item->id))
        descriptor =
            spoilDescriptor(std::move(descriptor), MalformedKind(call.faults.malformedKind));
    BridgeBuffer out = answer(std::move(buffer), descriptor, call.faults);
    call.record.lengthOut = out.length;
    return out;
}

} // namespace virtualboard
