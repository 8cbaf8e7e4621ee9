#include "virtualboard/bridge_state.h"

#include "virtualboard/board_image.h"
#include "virtualboard/platform.h"

namespace virtualboard {

using namespace layout;

BridgeFaults BridgeState::faults() const {
    BoardImage::Lock lock(image_);
    return image_.firmware().faults;
}

void BridgeState::setFaults(const BridgeFaults& faults) {
    BoardImage::Lock lock(image_);
    BridgeFaults& stored = image_.firmware().faults;
    stored = faults;
    stored.unknownMethod[sizeof stored.unknownMethod - 1] = 0;
}

void BridgeState::logCall(CallRecord record) {
    BoardImage::Lock lock(image_);
    FirmwareState& firmware = image_.firmware();
    record.sequence = ++firmware.callNext;
    record.timeMs = wallClockMs();
    firmware.calls[(record.sequence - 1) % kCallLogCapacity] = record;
}

std::vector<CallRecord> BridgeState::calls() const {
    BoardImage::Lock lock(image_);
    const FirmwareState& firmware = image_.firmware();
    const std::uint64_t next = firmware.callNext;
    const std::uint64_t first = next > kCallLogCapacity ? next - kCallLogCapacity : 0;
    std::vector<CallRecord> records;
    for (std::uint64_t i = first; i < next; ++i)
        records.push_back(firmware.calls[i % kCallLogCapacity]);
    return records;
}

void BridgeState::clearCalls() {
    BoardImage::Lock lock(image_);
    image_.firmware().callNext = 0;
}

} // namespace virtualboard
