lumivane_add_benchmark(items_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/items_bench.cpp
    LIBRARIES lumivane_items)
target_include_directories(items_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/board
    ${PROJECT_SOURCE_DIR}/tests/support)
