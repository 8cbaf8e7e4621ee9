# Checks an installer without running it: a PE of the expected machine whose payload,
# as 7z lists and extracts it, holds each given file byte for byte.
cmake_minimum_required(VERSION 3.25)
# -DSEVEN_ZIP= -DOBJDUMP= -DINSTALLER= -DMACHINE=i386|x86-64 -DFILES=a,b -DSCRATCH=dir

set(failures "")
if(MACHINE STREQUAL "i386")
    set(format "pei-i386")
else()
    set(format "pei-x86-64")
endif()
execute_process(COMMAND ${OBJDUMP} -f ${INSTALLER} OUTPUT_VARIABLE header RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT header MATCHES "file format ${format}")
    list(APPEND failures "not a ${MACHINE} PE file")
endif()

file(REMOVE_RECURSE ${SCRATCH})
execute_process(COMMAND ${SEVEN_ZIP} x -y -o${SCRATCH} ${INSTALLER}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    list(APPEND failures "7z could not read the payload: ${err}")
endif()

string(REPLACE "," ";" files "${FILES}")
set(expected "")
foreach(file IN LISTS files)
    get_filename_component(name ${file} NAME)
    list(APPEND expected ${name})
    if(NOT EXISTS ${SCRATCH}/${name})
        list(APPEND failures "${name} is not in the payload")
        continue()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${file} ${SCRATCH}/${name}
        RESULT_VARIABLE differs)
    if(differs)
        list(APPEND failures "${name} in the payload is not the build's ${file}")
    endif()
endforeach()
# Nothing else goes into the installation folder (the uninstaller is written there, the
# plug-ins only unpack into a temporary folder).
file(GLOB payload RELATIVE ${SCRATCH} ${SCRATCH}/*)
foreach(name IN LISTS payload)
    if(NOT name IN_LIST expected AND NOT name STREQUAL "$PLUGINSDIR" AND NOT name STREQUAL "Uninstall.exe")
        list(APPEND failures "unexpected file in the payload: ${name}")
    endif()
endforeach()
file(REMOVE_RECURSE ${SCRATCH})

if(failures)
    string(REPLACE ";" "\n  " text "${failures}")
    message(FATAL_ERROR "${INSTALLER}:\n  ${text}")
endif()
message(STATUS "${INSTALLER}: ${MACHINE}, payload [${expected}] as built")
