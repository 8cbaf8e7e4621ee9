# Tests of the firmware items. Included from tests/board/CMakeLists.txt.

set(items_test_sources
    ${CMAKE_CURRENT_LIST_DIR}/fake_acpi_bridge.h
    ${CMAKE_CURRENT_LIST_DIR}/acpi_package_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/acpi_items_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bios_item_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bios_item_registry_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/acpi_exports_test.cpp)
if(LUMIVANE_WINDOWS)
    list(APPEND items_test_sources ${CMAKE_CURRENT_LIST_DIR}/acpi_bridge_com_test.cpp)
else()
    list(APPEND items_test_sources
        ${CMAKE_CURRENT_LIST_DIR}/acpi_bridge_dbus_test.cpp)
endif()

# Built like the programs: the exported functions come in through the object library.
lumivane_add_test(items_tests
    SOURCES ${items_test_sources}
    LIBRARIES lumivane_items lumivane_items_exports lumivane_test_support)

get_property(acpi_exports GLOBAL PROPERTY LUMIVANE_ACPI_EXPORTS)
lumivane_check_pe(items_tests_exports TARGET items_tests MACHINE ${LUMIVANE_PE_MACHINE}
    EXPORTS ${acpi_exports} ONLY_EXPORTS)
