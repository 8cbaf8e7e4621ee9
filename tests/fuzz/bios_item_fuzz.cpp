// Item descriptors as the bridge returns them, for every item class: Load and Parse
// never read outside the descriptor, a second Load drops everything the first one
// pointed into, and the texts and values derived from a descriptor stay sane.
//
// Input: u32 item id (its kind picks the class), u16 length of the first
// descriptor, the first descriptor, then the second descriptor.

#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "fake_acpi_bridge.h"
#include "fuzz_input.h"
#include "os/diagnostics.h"

#include <string>

namespace {

bool isNumberText(const std::wstring& text) {
    std::size_t points = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'.')
            ++points;
        else if (!(c >= L'0' && c <= L'9') && !(c == L'-' && i == 0))
            return false;
    }
    return points <= 1;
}

void exercise(board::BiosItem& item, std::uint32_t probe) {
    (void)item.GetField3();
    (void)item.HasAttribute8();
    const std::uint32_t count = item.GetCount();
    const auto* number = dynamic_cast<board::BiosNumberItem*>(&item);
    const std::uint32_t extras = number ? std::uint32_t(number->extraStringCount()) : 0;
    FUZZ_CHECK(extras <= count);
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(count, 8) + 1; ++i) {
        const std::wstring text = item.IndexToString(i);
        if (number && i >= extras)
            FUZZ_CHECK(isNumberText(text));
        (void)board::wideToUtf8(text);
    }
    if (dynamic_cast<board::BiosStringItem*>(&item))
        FUZZ_CHECK(item.IndexToString(count).empty());
    std::uint32_t numerator = 0, denominator = 0;
    item.IndexToRational(probe, &numerator, &denominator);
    (void)item.IndexToValue(probe);
    if (number && probe >= extras)
        FUZZ_CHECK(isNumberText(item.IndexToString(probe)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        os::setDiagnosticSink([](const os::Diagnostic&) {});
        return true;
    }();
    (void)quiet;
    static testing_support::FakeAcpiBridge bridge;
    static board::AcpiItemLibrary library(bridge);

    fuzzing::FuzzInput input(data, size);
    const std::uint32_t id = input.u32();
    const std::uint32_t probe = input.u8();
    const std::vector<std::uint8_t> first = input.bytes(input.u16());
    const std::vector<std::uint8_t> second = input.rest();

    auto item = board::BiosItemRegistry::MakeItem(library, id, first);
    FUZZ_CHECK(item->descriptor().size() == first.size());
    exercise(*item, probe);
    // What the first descriptor left behind must not outlive its copy.
    (void)item->Load(second);
    FUZZ_CHECK(item->descriptor().size() == second.size());
    exercise(*item, probe);
    return 0;
}
