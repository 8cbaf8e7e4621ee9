#pragma once

// The firmware item operations as both programs export them: standard-call functions
// returning 1 or 0, every argument 32 bits wide on the product's 32-bit build.

#include <cstdint>

#if defined(_WIN32)
#define LUMIVANE_ACPI_CALL __stdcall
#define LUMIVANE_ACPI_EXPORT __declspec(dllexport)
#else
#define LUMIVANE_ACPI_CALL
#define LUMIVANE_ACPI_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

LUMIVANE_ACPI_EXPORT std::int32_t LUMIVANE_ACPI_CALL AcpiInit();
LUMIVANE_ACPI_EXPORT std::int32_t LUMIVANE_ACPI_CALL AcpiGetItem(std::uint32_t id,
                                                                 std::uint32_t* result);
LUMIVANE_ACPI_EXPORT std::int32_t LUMIVANE_ACPI_CALL AcpiGetItemEx(std::uint32_t selectorA,
                                                                   std::uint32_t selectorB,
                                                                   std::uint32_t* result);
LUMIVANE_ACPI_EXPORT std::int32_t LUMIVANE_ACPI_CALL AcpiSetItem(std::uint32_t id,
                                                                 std::uint32_t value,
                                                                 std::uint32_t control);
LUMIVANE_ACPI_EXPORT std::int32_t LUMIVANE_ACPI_CALL AcpiSetItemBuffer(std::uint32_t unused,
                                                                       std::uint32_t selector,
                                                                       std::uint8_t* buffer,
                                                                       std::uint32_t* length);
LUMIVANE_ACPI_EXPORT std::int32_t LUMIVANE_ACPI_CALL AcpiMbif(std::uint8_t* buffer,
                                                              std::uint32_t* length);
LUMIVANE_ACPI_EXPORT std::int32_t LUMIVANE_ACPI_CALL AcpiGGrp(std::uint32_t group,
                                                              std::uint8_t* buffer,
                                                              std::uint32_t* length);
LUMIVANE_ACPI_EXPORT std::int32_t LUMIVANE_ACPI_CALL AcpiCallMethod(std::uint32_t* code,
                                                                    std::uint8_t* buffer,
                                                                    std::uint32_t* length);
}
