# Firmware items: the ACPI item library over the vendor's bridge and the BIOS item model.
# Included from board/CMakeLists.txt.

add_library(lumivane_items STATIC
    ${CMAKE_CURRENT_LIST_DIR}/acpi_package.h ${CMAKE_CURRENT_LIST_DIR}/acpi_package.cpp
    ${CMAKE_CURRENT_LIST_DIR}/acpi_bridge.h
    ${CMAKE_CURRENT_LIST_DIR}/acpi_items.h ${CMAKE_CURRENT_LIST_DIR}/acpi_items.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bios_item.h ${CMAKE_CURRENT_LIST_DIR}/bios_item.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bios_item_registry.h ${CMAKE_CURRENT_LIST_DIR}/bios_item_registry.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ec_led_items.cpp)
lumivane_target(lumivane_items)
target_link_libraries(lumivane_items PUBLIC lumivane_board lumivane_os)

if(LUMIVANE_WINDOWS)
    target_sources(lumivane_items PRIVATE
        ${CMAKE_CURRENT_LIST_DIR}/acpi_bridge_win.h ${CMAKE_CURRENT_LIST_DIR}/acpi_bridge_win.cpp
        ${CMAKE_CURRENT_LIST_DIR}/firmware_text_win.cpp)
    target_link_libraries(lumivane_items PUBLIC ole32 oleaut32 uuid)
else()
    find_package(sdbus-c++ REQUIRED)
    target_sources(lumivane_items PRIVATE
        ${CMAKE_CURRENT_LIST_DIR}/acpi_bridge_linux.h ${CMAKE_CURRENT_LIST_DIR}/acpi_bridge_linux.cpp
        ${CMAKE_CURRENT_LIST_DIR}/firmware_text_linux.cpp)
    target_link_libraries(lumivane_items PUBLIC SDBusCpp::sdbus-c++)
endif()

# The eight exported functions. An object library, so that every program linking it
# carries the exports whether or not it calls them itself.
add_library(lumivane_items_exports OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/acpi_exports.h ${CMAKE_CURRENT_LIST_DIR}/acpi_exports.cpp)
lumivane_target(lumivane_items_exports)
target_link_libraries(lumivane_items_exports PUBLIC lumivane_items)

# The export names the programs must show: argument-size decorated on the 32-bit build.
if(LUMIVANE_WINDOWS AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    set_property(GLOBAL PROPERTY LUMIVANE_ACPI_EXPORTS AcpiInit@0 AcpiGetItem@8 AcpiGetItemEx@12
        AcpiSetItem@12 AcpiSetItemBuffer@16 AcpiMbif@8 AcpiGGrp@12 AcpiCallMethod@12)
else()
    set_property(GLOBAL PROPERTY LUMIVANE_ACPI_EXPORTS AcpiInit AcpiGetItem AcpiGetItemEx
        AcpiSetItem AcpiSetItemBuffer AcpiMbif AcpiGGrp AcpiCallMethod)
endif()
