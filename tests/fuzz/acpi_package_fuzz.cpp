// The element-list reader over any bytes the bridge could return: every element it
// offers lies inside the buffer, walking and indexing agree, and what it read
// survives being written again with the builder the bridge stand-ins use.

#include "board/acpi_package.h"
#include "fuzz_input.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> buffer(data, size);
    const board::AcpiPackage package(buffer);
    FUZZ_CHECK(package.readableCount() <= package.declaredCount());
    FUZZ_CHECK(package.valid() == (size >= board::kAcpiPackageHeaderSize &&
                                   package.readableCount() == package.declaredCount()));

    board::AcpiPackageBuilder rebuilt;
    std::uint32_t walked = 0;
    for (auto e = package.first(); e; e = package.next(*e), ++walked) {
        FUZZ_CHECK(e->position() == walked);
        const auto bytes = e->dataBytes();
        FUZZ_CHECK(bytes.data() >= data && bytes.data() + bytes.size() <= data + size);
        FUZZ_CHECK(bytes.size() >= 4 && bytes.data() == e->data());
        const auto indexed = package.element(walked);
        FUZZ_CHECK(indexed && indexed->offset() == e->offset());
        if (const auto text = e->text())
            FUZZ_CHECK(text->data() + text->size() < reinterpret_cast<const char*>(data + size));
        rebuilt.raw(bytes, e->dataLength());
    }
    FUZZ_CHECK(walked == package.readableCount());
    FUZZ_CHECK(!package.element(walked));

    // Written out again, the readable elements make a whole package with the same data.
    const std::vector<std::uint8_t> copy = rebuilt.build();
    const board::AcpiPackage again(copy);
    FUZZ_CHECK(again.valid() && again.declaredCount() == walked);
    auto a = package.first();
    for (auto b = again.first(); b; b = again.next(*b), a = package.next(*a)) {
        FUZZ_CHECK(a && a->dataLength() == b->dataLength() && a->value() == b->value());
        FUZZ_CHECK(std::equal(a->dataBytes().begin(), a->dataBytes().end(), b->dataBytes().begin(),
                              b->dataBytes().end()));
    }
    return 0;
}
