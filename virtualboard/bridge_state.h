#pragma once

// The ACPI bridge stand-in's share of the board: the faults a test switches on, and
// the log of every call the bridge answered.

#include "virtualboard/image_layout.h"

#include <vector>

namespace virtualboard {

class BoardImage;

using layout::BridgeFaults;
using layout::CallRecord;
using layout::MalformedKind;

class BridgeState {
public:
    explicit BridgeState(BoardImage& image) : image_(image) {}

    BridgeFaults faults() const;
    void setFaults(const BridgeFaults& faults);
    void logCall(CallRecord record); // sequence and time are filled in
    // The records still in the log, oldest first.
    std::vector<CallRecord> calls() const;
    void clearCalls();

private:
    BoardImage& image_;
};

} // namespace virtualboard
