#pragma once

// A scripted stand-in for the vendor's ACPI bridge: firmware groups, descriptors and
// values held in memory, every call recorded as it arrived, and knobs for the ways a
// real bridge can misbehave.

#include "board/acpi_bridge.h"
#include "board/acpi_package.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

// One argument as the bridge saw it arrive.
struct SeenArgument {
    enum class Kind { In, Out, Bytes, Length } kind;
    std::uint32_t value = 0;         // In: the value; Length: the length sent
    std::vector<std::uint8_t> bytes; // Bytes: the array sent

    bool operator==(const SeenArgument&) const = default;
};

struct SeenCall {
    std::string method;
    std::vector<SeenArgument> arguments;
};

class FakeAcpiBridge : public board::BridgeTransport {
public:
    // --- the firmware ---
    std::map<std::uint32_t, std::vector<std::uint8_t>> groups;      // group -> list package
    std::map<std::uint32_t, std::vector<std::uint8_t>> descriptors; // method code -> package
    std::map<std::uint32_t, std::uint32_t> values;                  // item id -> value
    std::vector<std::vector<std::uint32_t>> writes;                 // iAcpiSetItem arguments

    // --- knobs ---
    bool unavailable = false;                     // opening fails
    std::set<std::string> unknownMethods;         // the bridge does not know these names
    bool failInvocations = false;                 // every invocation fails, outputs untouched
    bool dropArray = false;                       // the byte array does not come back
    std::optional<std::uint32_t> lengthOverride;  // the length the bridge reports back
    std::optional<std::size_t> arraySizeOverride; // resize the returned array to this
    bool getItemWritesNothing = false;            // iAcpiGetItem succeeds but writes nothing

    // --- what happened ---
    std::vector<SeenCall> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int opens() const { return opens_; }
    int liveSessions() const { return live_; }
    std::size_t callCount(const std::string& method) const {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const SeenCall& c : calls_)
            n += c.method == method;
        return n;
    }
    void forget() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

    std::unique_ptr<board::BridgeSession> open(board::BridgeStatus& status) override;

private:
    friend class FakeSession;
    board::BridgeStatus handle(const std::string& method, std::span<board::BridgeArgument> args);

    mutable std::mutex mutex_;
    std::vector<SeenCall> calls_;
    std::atomic<int> opens_{0};
    std::atomic<int> live_{0};
};

class FakeSession : public board::BridgeSession {
public:
    explicit FakeSession(FakeAcpiBridge& bridge) : bridge_(bridge) { ++bridge_.live_; }
    ~FakeSession() override { --bridge_.live_; }
    board::BridgeStatus invoke(std::string_view method,
                               std::span<board::BridgeArgument> arguments) override {
        return bridge_.handle(std::string(method), arguments);
    }

private:
    FakeAcpiBridge& bridge_;
};

inline std::unique_ptr<board::BridgeSession> FakeAcpiBridge::open(board::BridgeStatus& status) {
    ++opens_;
    if (unavailable) {
        status = board::kBridgeUnavailable;
        return nullptr;
    }
    status = board::kBridgeOk;
    return std::make_unique<FakeSession>(*this);
}

inline board::BridgeStatus FakeAcpiBridge::handle(const std::string& method,
                                                  std::span<board::BridgeArgument> args) {
    using namespace board;
    SeenCall seen{method, {}};
    std::vector<std::uint32_t> inputs;
    std::uint32_t* out = nullptr;
    BridgeByteArray* array = nullptr;
    std::uint32_t* length = nullptr;
    for (BridgeArgument& a : args) {
        if (auto* in = std::get_if<BridgeIn>(&a)) {
            seen.arguments.push_back({SeenArgument::Kind::In, in->value, {}});
            inputs.push_back(in->value);
        } else if (auto* o = std::get_if<BridgeOut>(&a)) {
            seen.arguments.push_back({SeenArgument::Kind::Out, 0, {}});
            out = o->target;
        } else if (auto* b = std::get_if<BridgeBytes>(&a)) {
            seen.arguments.push_back({SeenArgument::Kind::Bytes, 0, b->array->bytes});
            array = b->array;
        } else if (auto* l = std::get_if<BridgeLength>(&a)) {
            seen.arguments.push_back({SeenArgument::Kind::Length, *l->length, {}});
            length = l->length;
        }
    }
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(seen);
    }
    if (unknownMethods.contains(method))
        return kBridgeUnknownName;
    if (failInvocations)
        return kBridgeFailed;

    auto answer = [&](const std::vector<std::uint8_t>* reply) {
        if (array && reply) {
            array->bytes = *reply;
            if (length)
                *length = std::uint32_t(reply->size());
        }
        if (array && arraySizeOverride)
            array->bytes.resize(*arraySizeOverride, 0xA5);
        if (length && lengthOverride)
            *length = *lengthOverride;
        if (array && dropArray) {
            array->bytes.clear();
            array->present = false;
        }
    };

    if (method == "iAcpiGetItem" && inputs.size() == 1 && out) {
        const auto found = values.find(inputs[0]);
        if (found == values.end())
            return kBridgeFailed;
        if (!getItemWritesNothing)
            *out = found->second;
        return kBridgeOk;
    }
    if (method == "iAcpiGetItemEx" && inputs.size() == 2 && out) {
        *out = inputs[0] ^ inputs[1];
        return kBridgeOk;
    }
    if (method == "iAcpiSetItem" && inputs.size() == 3) {
        std::lock_guard lock(mutex_);
        writes.push_back(inputs);
        values[inputs[0]] = inputs[1];
        return kBridgeOk;
    }
    if (method == "iAcpiInit")
        return kBridgeOk;
    if (method == "iAcpiGGrp" && inputs.size() == 1) {
        const auto found = groups.find(inputs[0]);
        answer(found == groups.end() ? nullptr : &found->second);
        return found == groups.end() ? kBridgeFailed : kBridgeOk;
    }
    if (method == "iAcpiCallMethod" && inputs.size() == 1) {
        const auto found = descriptors.find(inputs[0]);
        answer(found == descriptors.end() ? nullptr : &found->second);
        return found == descriptors.end() ? kBridgeFailed : kBridgeOk;
    }
    // iAcpiMbif, iAcpiSetItemBuffer: echo the array reversed, so a copy-back shows.
    if (array) {
        std::vector<std::uint8_t> reply(array->bytes.rbegin(), array->bytes.rend());
        answer(&reply);
        return kBridgeOk;
    }
    return kBridgeFailed;
}

// Descriptors in the firmware's layout: element 0 the id, 1 and 2 filler, 3 the field.
inline std::vector<std::uint8_t> numberDescriptor(std::uint32_t id, std::uint32_t baseWord,
                                                  std::uint32_t stepWord, std::uint32_t count,
                                                  const std::vector<std::string>& extras = {},
                                                  std::uint32_t field3 = 0) {
    board::AcpiPackageBuilder b;
    b.value(id).value(0x11).value(0x22).value(field3).value(baseWord).value(stepWord).value(count);
    if (!extras.empty()) {
        b.value(std::uint32_t(extras.size()));
        for (const std::string& e : extras)
            b.text(e);
    }
    return b.build();
}

inline std::vector<std::uint8_t> stringDescriptor(std::uint32_t id,
                                                  const std::vector<std::string>& strings,
                                                  std::optional<std::uint32_t> declared = {}) {
    board::AcpiPackageBuilder b;
    b.value(id).value(0x11).value(0x22).value(0x33);
    b.value(declared.value_or(std::uint32_t(strings.size())));
    for (const std::string& s : strings)
        b.text(s);
    return b.build();
}

inline std::vector<std::uint8_t> booleanDescriptor(std::uint32_t id, std::uint32_t field3 = 1) {
    return board::AcpiPackageBuilder().value(id).value(0).value(0).value(field3).build();
}

// Publishes a group: its list holds one method code per descriptor, and each code
// answers with its descriptor. Returns the codes.
inline std::vector<std::uint32_t>
publishGroup(FakeAcpiBridge& bridge, std::uint32_t group,
             const std::vector<std::vector<std::uint8_t>>& items) {
    board::AcpiPackageBuilder list;
    std::vector<std::uint32_t> codes;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::uint32_t code = 0xC0DE0000u | group << 8 | std::uint32_t(i);
        list.value(code);
        bridge.descriptors[code] = items[i];
        codes.push_back(code);
    }
    bridge.groups[group] = list.build();
    return codes;
}

} // namespace testing_support
