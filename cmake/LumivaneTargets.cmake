# Helpers shared by every subsystem's CMakeLists.

if(WIN32)
    set(LUMIVANE_WINDOWS ON)
    set(LUMIVANE_NATIVE OFF)
else()
    set(LUMIVANE_WINDOWS OFF)
    set(LUMIVANE_NATIVE ON)
endif()

# Tests run natively on Linux and under wine64 for the 64-bit Windows build. The
# 32-bit Windows build cannot run here: its programs are only built and checked.
if(LUMIVANE_NATIVE OR CMAKE_CROSSCOMPILING_EMULATOR)
    set(LUMIVANE_CAN_RUN_TESTS ON)
else()
    set(LUMIVANE_CAN_RUN_TESTS OFF)
endif()

# Our own code builds without warnings everywhere; third-party code is not ours to fix.
function(lumivane_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A library, program or test of ours: C++20, warnings as errors, static runtime on Windows.
function(lumivane_target target)
    lumivane_warnings(${target})
    target_compile_features(${target} PUBLIC cxx_std_20)
    if(LUMIVANE_WINDOWS)
        target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
    endif()
endfunction()

# lumivane_origin_runpath(target [INSTALL_DESTINATION dir])
# A native program that, in the build tree, finds libraries loaded by bare name (the
# HwIO stand-in) beside itself: its run path is exactly $ORIGIN. Not BUILD_RPATH: for
# a target with an install rule CMake appends a separator to the build run path, to
# make room for editing it at install time, and the empty element after it ("$ORIGIN:")
# is the current directory. The program is linked with its install run path instead,
# and with INSTALL_DESTINATION it is installed there with the run path removed: an
# installed program uses the system's search.
function(lumivane_origin_runpath target)
    cmake_parse_arguments(ARG "" "INSTALL_DESTINATION" "" ${ARGN})
    set_target_properties(${target} PROPERTIES
        BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "\$ORIGIN")
    if(ARG_INSTALL_DESTINATION)
        install(TARGETS ${target} RUNTIME DESTINATION ${ARG_INSTALL_DESTINATION})
        set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ARG_INSTALL_DESTINATION}")
        install(CODE "file(RPATH_REMOVE FILE \"${installed}/$<TARGET_FILE_NAME:${target}>\")")
    endif()
endfunction()

# lumivane_add_test(NAME SOURCES src... [LIBRARIES lib...] [TIMEOUT s] [LABELS l...]
#                   [ENVIRONMENT VAR=value] [RESOURCE_LOCK name])  (the environment natively only)
# One GoogleTest program. Natively each test case becomes a CTest test; under Wine
# the program is one CTest test (every case in one process: a Wine start costs more
# than most cases). RESOURCE_LOCK keeps every case apart from the other tests that
# name the same resource.
function(lumivane_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT;ENVIRONMENT;RESOURCE_LOCK" "SOURCES;LIBRARIES;LABELS"
        ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    lumivane_target(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gmock GTest::gtest_main)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    if(NOT LUMIVANE_CAN_RUN_TESTS)
        return()
    endif()
    if(LUMIVANE_NATIVE)
        include(GoogleTest)
        # An empty value would vanish from the list and shift the next key.
        set(environment "")
        if(ARG_ENVIRONMENT)
            set(environment ENVIRONMENT "${ARG_ENVIRONMENT}")
        endif()
        set(lock "")
        if(ARG_RESOURCE_LOCK)
            set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
        endif()
        gtest_discover_tests(${name}
            DISCOVERY_TIMEOUT 30
            PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${environment} ${lock} LABELS "${ARG_LABELS}")
    else()
        add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
        set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
        if(ARG_RESOURCE_LOCK)
            set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
        endif()
    endif()
endfunction()

# lumivane_check_pe(NAME TARGET target MACHINE i386|x86-64 [SUBSYSTEM gui|console]
#                   [EXPORTS name...] [ONLY_EXPORTS] [ORDINALS name=number...]
#                   [IMPORTS_FROM dll...] [RESOURCES type...])
# A structural check of a built Windows binary with objdump, for binaries that
# cannot run on this machine. ORDINALS pins exports to their ordinals; IMPORTS_FROM
# lists every DLL the binary may import from (any other fails the check); RESOURCES
# names types by name (TYPELIB), by their usual names (STRING, VERSION, MANIFEST) or
# by number.
function(lumivane_check_pe name)
    cmake_parse_arguments(ARG "ONLY_EXPORTS" "TARGET;MACHINE;SUBSYSTEM"
        "EXPORTS;ORDINALS;IMPORTS_FROM;RESOURCES" ${ARGN})
    if(NOT LUMIVANE_WINDOWS OR NOT LUMIVANE_BUILD_TESTS)
        return()
    endif()
    find_program(LUMIVANE_OBJDUMP NAMES ${LUMIVANE_MINGW_TRIPLET}-objdump objdump REQUIRED)
    string(REPLACE ";" "," exports "${ARG_EXPORTS}")
    string(REPLACE ";" "," resources "${ARG_RESOURCES}")
    string(REPLACE ";" "," ordinals "${ARG_ORDINALS}")
    string(REPLACE ";" "," imports "${ARG_IMPORTS_FROM}")
    if(ARG_ONLY_EXPORTS)
        set(only 1)
    else()
        set(only 0)
    endif()
    add_test(NAME ${name}
        COMMAND ${CMAKE_COMMAND}
            -DOBJDUMP=${LUMIVANE_OBJDUMP}
            -DFILE=$<TARGET_FILE:${ARG_TARGET}>
            -DMACHINE=${ARG_MACHINE}
            -DEXPORTS=${exports}
            -DONLY_EXPORTS=${only}
            -DORDINALS=${ordinals}
            -DIMPORTS_FROM=${imports}
            -DRESOURCES=${resources}
            -DSUBSYSTEM=${ARG_SUBSYSTEM}
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckPe.cmake)
    set_tests_properties(${name} PROPERTIES LABELS structural)
endfunction()

# The machine name objdump reports for the binaries of this build.
if(LUMIVANE_WINDOWS)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(LUMIVANE_PE_MACHINE i386)
    else()
        set(LUMIVANE_PE_MACHINE x86-64)
    endif()
endif()

# lumivane_dbus_interface(TARGET NAME XML)
# The adaptor and the proxy that sdbus-c++-xml2cpp generates from the introspection
# XML, as an interface library: "dbus/NAME_adaptor.h" for the server side,
# "dbus/NAME_proxy.h" for clients. Linux only.
function(lumivane_dbus_interface target name xml)
    find_package(sdbus-c++ REQUIRED)
    find_package(sdbus-c++-tools REQUIRED)
    set(dir ${CMAKE_BINARY_DIR}/generated/dbus)
    set(adaptor ${dir}/${name}_adaptor.h)
    set(proxy ${dir}/${name}_proxy.h)
    add_custom_command(OUTPUT ${adaptor} ${proxy}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND SDBusCpp::sdbus-c++-xml2cpp ${xml} --adaptor=${adaptor} --proxy=${proxy}
        DEPENDS ${xml}
        COMMENT "Generating the D-Bus adaptor and proxy of ${name}"
        VERBATIM)
    add_custom_target(${target}_headers DEPENDS ${adaptor} ${proxy})
    add_library(${target} INTERFACE)
    add_dependencies(${target} ${target}_headers)
    # SYSTEM: the generated code is not ours to keep free of warnings.
    target_include_directories(${target} SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(${target} INTERFACE SDBusCpp::sdbus-c++)
endfunction()

# lumivane_com_interface(TARGET NAME IDL)
# What widl compiles from the IDL for the width of this build: the header
# "com/NAME.h", the GUIDs in a static library, and the type library, whose path the
# target's LUMIVANE_TYPELIB property holds and whose folder resource scripts search
# (a script names it "NAME.tlb"). Windows only.
function(lumivane_com_interface target name idl)
    find_program(LUMIVANE_WIDL NAMES ${LUMIVANE_MINGW_TRIPLET}-widl widl REQUIRED)
    # The system's IDL files and the standard type library come with Wine's
    # development files, outside the cross toolchain's root.
    find_path(LUMIVANE_WIDL_INCLUDE oaidl.idl PATHS /usr/include/wine/wine/windows
        NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    find_path(LUMIVANE_STDOLE2_DIR stdole2.tlb
        PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
            /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows
        NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(width --win32)
    else()
        set(width --win64)
    endif()
    set(dir ${CMAKE_BINARY_DIR}/generated/com)
    set(header ${dir}/${name}.h)
    set(guids ${dir}/${name}_i.c)
    set(typelib ${dir}/${name}.tlb)
    add_custom_command(OUTPUT ${header} ${guids} ${typelib}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${LUMIVANE_WIDL} ${width} -I${LUMIVANE_WIDL_INCLUDE} -L${LUMIVANE_STDOLE2_DIR}
            -h -H ${header} -u -U ${guids} -t -T ${typelib} ${idl}
        DEPENDS ${idl}
        COMMENT "Compiling the COM interface ${name}"
        VERBATIM)
    add_library(${target} STATIC ${guids} ${header})
    # SYSTEM: the generated code is not ours to keep free of warnings.
    target_include_directories(${target} SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(${target} PUBLIC ole32 oleaut32 uuid)
    set_target_properties(${target} PROPERTIES LUMIVANE_TYPELIB ${typelib})
endfunction()
