// The item library and registry over a bridge whose every answer comes from the
// input: any status, results written or not, byte arrays of any length (huge ones
// included) or none at all, any length reported back. The caller's buffers are
// exactly as large as it says, so nothing may be copied past them, and an item
// found for an id is the only item written when that id is set.
//
// Input: u8 group to enumerate, then the bridge's answers in the order the calls
// ask for them (see FuzzSession).

#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "fuzz_input.h"
#include "os/diagnostics.h"

#include <memory>

namespace {

using namespace board;

struct Bridge {
    fuzzing::FuzzInput* input = nullptr;
    std::uint32_t expectedSetId = 0; // the id the harness asked to set, or 0
};

class FuzzSession : public BridgeSession {
public:
    explicit FuzzSession(Bridge& bridge) : bridge_(bridge) {}

    BridgeStatus invoke(std::string_view method, std::span<BridgeArgument> arguments) override {
        fuzzing::FuzzInput& in = *bridge_.input;
        if (method == "iAcpiSetItem") {
            FUZZ_CHECK(arguments.size() == 3);
            const auto* id = std::get_if<BridgeIn>(&arguments[0]);
            FUZZ_CHECK(id && id->value == bridge_.expectedSetId);
        }
        for (BridgeArgument& argument : arguments) {
            if (auto* out = std::get_if<BridgeOut>(&argument)) {
                if (in.flag())
                    *out->target = in.u32();
            } else if (auto* bytes = std::get_if<BridgeBytes>(&argument)) {
                answer(in, *bytes->array);
            } else if (auto* length = std::get_if<BridgeLength>(&argument)) {
                if (in.flag())
                    *length->length = in.u32();
            }
        }
        switch (in.u8() & 3) {
        case 2:
            return kBridgeFailed;
        case 3:
            return kBridgeUnknownName;
        default:
            return kBridgeOk;
        }
    }

private:
    static void answer(fuzzing::FuzzInput& in, BridgeByteArray& array) {
        switch (in.u8() & 3) {
        case 0: // left as sent
            break;
        case 1:
            array.bytes = in.bytes(in.u16());
            break;
        case 2:
            array.bytes.clear();
            array.present = false;
            break;
        default: // far more than was sent
            array.bytes.assign(std::size_t(in.u8()) << 12, in.u8());
            break;
        }
    }

    Bridge& bridge_;
};

class FuzzTransport : public BridgeTransport {
public:
    explicit FuzzTransport(Bridge& bridge) : bridge_(bridge) {}
    std::unique_ptr<BridgeSession> open(BridgeStatus& status) override {
        // Now and then the bridge cannot be reached at all.
        if ((bridge_.input->u8() & 0x1F) == 0x1F) {
            status = kBridgeUnavailable;
            return nullptr;
        }
        status = kBridgeOk;
        return std::make_unique<FuzzSession>(bridge_);
    }

private:
    Bridge& bridge_;
};

// A buffer call with a buffer of exactly the size it claims.
template <typename Call>
void bufferCall(fuzzing::FuzzInput& in, Call call) {
    const std::uint32_t sent = in.u8();
    auto buffer = std::make_unique<std::uint8_t[]>(sent);
    std::uint32_t length = sent;
    const int result = call(buffer.get(), &length);
    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK(length <= sent);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        os::setDiagnosticSink([](const os::Diagnostic&) {});
        return true;
    }();
    (void)quiet;

    fuzzing::FuzzInput input(data, size);
    Bridge bridge{&input};
    FuzzTransport transport(bridge);
    AcpiItemLibrary library(transport);
    BiosItemRegistry registry(library);

    const std::uint32_t group = input.u8();
    const std::vector<std::uint32_t> ids = registry.GroupIds(group);
    FUZZ_CHECK(ids.size() <= BiosItemRegistry::kWorkBufferSize / 8);
    for (std::size_t i = 0; i < ids.size() && i < 16; ++i) {
        BiosItem* item = registry.Find(ids[i]);
        FUZZ_CHECK(item && item_id::key(item->id()) == item_id::key(ids[i]));
        (void)item->GetCount();
        (void)item->IndexToString(0);
        std::uint32_t value = 0x5A5A5A5A;
        (void)item->GetValue(&value);
        bridge.expectedSetId = item->id();
        (void)item->SetValue(value, 1);
        bridge.expectedSetId = 0;
    }

    std::uint32_t result = 0;
    (void)library.getItem(input.u32(), &result);
    bufferCall(input, [&](std::uint8_t* b, std::uint32_t* n) { return library.mbif(b, n); });
    bufferCall(input, [&](std::uint8_t* b, std::uint32_t* n) { return library.gGrp(group, b, n); });
    bufferCall(input, [&](std::uint8_t* b, std::uint32_t* n) {
        const std::uint32_t code = 0xC0DE0000;
        return library.callMethod(&code, b, n);
    });
    bufferCall(input, [&](std::uint8_t* b, std::uint32_t* n) {
        return library.setItemBuffer(0, 1, b, n);
    });
    return 0;
}
