# The item commands of lumivanectl, over the firmware items' fake bridge.
lumivane_add_test(lumivanectl_item_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/item_commands_test.cpp
    LIBRARIES lumivanectl_commands lumivane_test_support lumivane::json)
target_include_directories(lumivanectl_item_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/board)
if(LUMIVANE_WINDOWS AND LUMIVANE_CAN_RUN_TESTS)
    # Counts on no bridge being registered in the shared Wine prefix.
    set_tests_properties(lumivanectl_item_tests PROPERTIES RESOURCE_LOCK acpi_bridge_registration)
endif()
