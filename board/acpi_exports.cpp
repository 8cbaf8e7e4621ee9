#include "board/acpi_exports.h"

#include "board/acpi_items.h"

using board::AcpiItemLibrary;

namespace {

// Nothing may unwind into a caller that knows only C: a failure of ours (memory, most
// likely) is the export's plain failure.
template <typename Call>
std::int32_t fenced(Call call) noexcept {
    try {
        return call();
    } catch (...) {
        return 0;
    }
}

} // namespace

extern "C" {

std::int32_t LUMIVANE_ACPI_CALL AcpiInit() {
    return fenced([&] { return AcpiItemLibrary::platform().init(); });
}

std::int32_t LUMIVANE_ACPI_CALL AcpiGetItem(std::uint32_t id, std::uint32_t* result) {
    return fenced([&] { return AcpiItemLibrary::platform().getItem(id, result); });
}

std::int32_t LUMIVANE_ACPI_CALL AcpiGetItemEx(std::uint32_t selectorA, std::uint32_t selectorB,
                                              std::uint32_t* result) {
    return fenced(
        [&] { return AcpiItemLibrary::platform().getItemEx(selectorA, selectorB, result); });
}

std::int32_t LUMIVANE_ACPI_CALL AcpiSetItem(std::uint32_t id, std::uint32_t value,
                                            std::uint32_t control) {
    return fenced([&] { return AcpiItemLibrary::platform().setItem(id, value, control); });
}

std::int32_t LUMIVANE_ACPI_CALL AcpiSetItemBuffer(std::uint32_t unused, std::uint32_t selector,
                                                  std::uint8_t* buffer, std::uint32_t* length) {
    return fenced([&] {
        return AcpiItemLibrary::platform().setItemBuffer(unused, selector, buffer, length);
    });
}

std::int32_t LUMIVANE_ACPI_CALL AcpiMbif(std::uint8_t* buffer, std::uint32_t* length) {
    return fenced([&] { return AcpiItemLibrary::platform().mbif(buffer, length); });
}

std::int32_t LUMIVANE_ACPI_CALL AcpiGGrp(std::uint32_t group, std::uint8_t* buffer,
                                         std::uint32_t* length) {
    return fenced([&] { return AcpiItemLibrary::platform().gGrp(group, buffer, length); });
}

std::int32_t LUMIVANE_ACPI_CALL AcpiCallMethod(std::uint32_t* code, std::uint8_t* buffer,
                                               std::uint32_t* length) {
    return fenced([&] { return AcpiItemLibrary::platform().callMethod(code, buffer, length); });
}
}
