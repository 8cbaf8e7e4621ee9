# lumivanectl and vboard as a user runs them, each in its own process:
#   cmake -DVBOARD=... -DLUMIVANECTL=... -DWORK=... [-DEMULATOR=...] -P on_virtual_board.cmake

function(run out)
    execute_process(COMMAND ${EMULATOR} ${ARGN}
        WORKING_DIRECTORY ${WORK}
        OUTPUT_VARIABLE output ERROR_VARIABLE error RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ARGN} exited with ${status}:\n${output}\n${error}")
    endif()
    string(REPLACE "\r\n" "\n" output "${output}")
    set(${out} "${output}" PARENT_SCOPE)
endfunction()

# Points this script's environment (and so every later program) at the board.
function(create_board)
    run(ignored ${VBOARD} --image board.img create ${ARGN})
    run(environment ${VBOARD} --image board.img env)
    string(REGEX MATCHALL "export [A-Z_]+='[^']*'" lines "${environment}")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "export ([A-Z_]+)='([^']*)'" "\\1;\\2" pair "${line}")
        list(GET pair 0 name)
        list(GET pair 1 value)
        set(ENV{${name}} "${value}")
    endforeach()
endfunction()

function(expect_first_line expected)
    run(output ${LUMIVANECTL} board name)
    string(FIND "${output}" "\n" end)
    string(SUBSTRING "${output}" 0 ${end} first)
    if(NOT first STREQUAL expected)
        message(FATAL_ERROR "board name printed '${first}', expected '${expected}':\n${output}")
    endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

create_board()
expect_first_line("XR40-SUMMIT")
create_board(--baseboards 0)
expect_first_line("")
create_board(--no-table-service)
expect_first_line("XR40-SUMMIT")

run(ignored ${LUMIVANECTL} board hsl 0.333 1 0.5 --write)
run(shown ${VBOARD} --image board.img show --json)
foreach(register red green blue)
    string(REGEX MATCH "\"${register}\": *([0-9]+)" ignored "${shown}")
    set(${register} "${CMAKE_MATCH_1}")
endforeach()
if(NOT red STREQUAL "1" OR NOT green STREQUAL "255" OR NOT blue STREQUAL "0")
    message(FATAL_ERROR "registers 0x53/0x5D/0x5B are ${red}/${green}/${blue}:\n${shown}")
endif()

# A scan through a library without views: the message, then a clear error.
create_board(--no-table-service --missing-export HWIO_MapMem)
execute_process(COMMAND ${EMULATOR} ${LUMIVANECTL} board name
    WORKING_DIRECTORY ${WORK} ERROR_VARIABLE error RESULT_VARIABLE status)
if(status EQUAL 0 OR NOT error MATCHES "DmiHelp: Can not find SMBIOS Header")
    message(FATAL_ERROR "board name without HWIO_MapMem: exit ${status}, ${error}")
endif()
# The global lock: free on a new board; held by the firmware for longer than 1500
# attempts last; absent without tables.
create_board()
run(output ${LUMIVANECTL} lock test)
if(NOT output MATCHES "^global lock obtained after 1 attempt, released")
    message(FATAL_ERROR "lock test on a free lock printed: ${output}")
endif()
create_board(--firmware-lock 600000)
execute_process(COMMAND ${EMULATOR} ${LUMIVANECTL} lock test
    WORKING_DIRECTORY ${WORK} OUTPUT_VARIABLE output RESULT_VARIABLE status)
if(status EQUAL 0 OR NOT output MATCHES "not obtained after 1500 attempts")
    message(FATAL_ERROR "lock test against the firmware's lock: exit ${status}, ${output}")
endif()
create_board(--no-table-service --no-rsdp)
execute_process(COMMAND ${EMULATOR} ${LUMIVANECTL} lock test 3
    WORKING_DIRECTORY ${WORK} ERROR_VARIABLE error RESULT_VARIABLE status)
if(status EQUAL 0 OR NOT error MATCHES "no ACPI tables")
    message(FATAL_ERROR "lock test without tables: exit ${status}, ${error}")
endif()
file(REMOVE_RECURSE ${WORK})
