# Third-party libraries. Natively they come from Debian's packages; for the Windows
# builds scripts/bootstrap compiles them from Debian's source packages into the
# dependency cache that the toolchain files put on the search path.

if(LUMIVANE_BUILD_TESTS OR NOT DEFINED LUMIVANE_BUILD_TESTS)
    find_package(GTest CONFIG REQUIRED)
endif()

if(LUMIVANE_NATIVE)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(TINYXML REQUIRED IMPORTED_TARGET tinyxml)
    add_library(lumivane::tinyxml ALIAS PkgConfig::TINYXML)

    find_package(kissfft CONFIG REQUIRED COMPONENTS SHARED float)
    add_library(lumivane::kissfft ALIAS kissfft::kissfft)

    find_package(nlohmann_json 3 CONFIG REQUIRED)
    add_library(lumivane::json ALIAS nlohmann_json::nlohmann_json)
else()
    find_path(LUMIVANE_TINYXML_INCLUDE tinyxml.h REQUIRED)
    find_library(LUMIVANE_TINYXML_LIBRARY NAMES tinyxml REQUIRED)
    add_library(lumivane_tinyxml STATIC IMPORTED)
    set_target_properties(lumivane_tinyxml PROPERTIES
        IMPORTED_LOCATION ${LUMIVANE_TINYXML_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${LUMIVANE_TINYXML_INCLUDE}
        INTERFACE_COMPILE_DEFINITIONS TIXML_USE_STL)
    add_library(lumivane::tinyxml ALIAS lumivane_tinyxml)

    find_path(LUMIVANE_KISSFFT_INCLUDE kissfft/kiss_fft.h REQUIRED)
    find_library(LUMIVANE_KISSFFT_LIBRARY NAMES kissfft-float REQUIRED)
    add_library(lumivane_kissfft STATIC IMPORTED)
    set_target_properties(lumivane_kissfft PROPERTIES
        IMPORTED_LOCATION ${LUMIVANE_KISSFFT_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES "${LUMIVANE_KISSFFT_INCLUDE};${LUMIVANE_KISSFFT_INCLUDE}/kissfft"
        INTERFACE_COMPILE_DEFINITIONS kiss_fft_scalar=float)
    add_library(lumivane::kissfft ALIAS lumivane_kissfft)

    # Header-only: bootstrap copies Debian's headers into the cache.
    find_path(LUMIVANE_JSON_INCLUDE nlohmann/json.hpp REQUIRED)
    add_library(lumivane_json INTERFACE IMPORTED)
    set_target_properties(lumivane_json PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${LUMIVANE_JSON_INCLUDE})
    add_library(lumivane::json ALIAS lumivane_json)
endif()

# Qt 5 for the control panel. Natively Debian's (found where the panel is built);
# for Windows the static build scripts/bootstrap makes in the dependency cache, one
# per triplet. A Windows build without it leaves viruv.exe out and says so.
if(LUMIVANE_FUZZ)
    set(LUMIVANE_WITH_PANEL OFF)
elseif(LUMIVANE_NATIVE)
    set(LUMIVANE_WITH_PANEL ON)
else()
    set(LUMIVANE_QT_DIR ${LUMIVANE_DEPS_DIR}/${LUMIVANE_MINGW_TRIPLET}/qt5
        CACHE PATH "Static Qt 5 for this Windows target")
    if(EXISTS ${LUMIVANE_QT_DIR}/lib/cmake/Qt5/Qt5Config.cmake)
        find_package(Qt5 5.15 REQUIRED COMPONENTS Widgets Test
            PATHS ${LUMIVANE_QT_DIR} NO_DEFAULT_PATH)
        set(LUMIVANE_WITH_PANEL ON)
    else()
        set(LUMIVANE_WITH_PANEL OFF)
        message(WARNING "viruv.exe is left out of this build: no Qt 5 for "
            "${LUMIVANE_MINGW_TRIPLET} in ${LUMIVANE_QT_DIR} (LUMIVANE_QT_TRIPLETS="
            "${LUMIVANE_MINGW_TRIPLET} scripts/bootstrap builds it)")
    endif()
endif()
