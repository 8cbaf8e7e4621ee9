# What `cmake --install` puts in place on Linux, besides the rules beside each target
# that the build tree's bus activation shares (the daemon, vboard, the interface XML).
# Files naming installed paths are templates under data/, filled here at configure
# time. The README's "Installing on Linux" lists every installed file; a test holds
# the two together.

include(GNUInstallDirs)

# lumivanectl, like the daemon, is installed beside its target (lumivane_origin_runpath).
if(TARGET viruv)
    install(TARGETS viruv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The HwIO stand-in under both names the programs load: the bare name through the
# loader's search, HwIO.so from the library directory (the system-directory binding).
install(TARGETS lumivane_hwio lumivane_hwio_system LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# Relative to the prefix: systemd reads /usr/local/lib/systemd/system as well as
# /usr/lib/systemd/system.
set(LUMIVANE_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
    "Where the systemd unit is installed, relative to the prefix")

set(filled ${CMAKE_BINARY_DIR}/installed)
configure_file(${PROJECT_SOURCE_DIR}/data/systemd/lumivane.service.in
    ${filled}/lumivane.service @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/data/dbus/Lumivane.LightControl.system.service.in
    ${filled}/system-services/Lumivane.LightControl.service @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/data/applications/viruv.desktop.in
    ${filled}/viruv.desktop @ONLY)

install(FILES ${filled}/lumivane.service DESTINATION ${LUMIVANE_SYSTEMD_UNIT_DIR})
install(FILES ${filled}/system-services/Lumivane.LightControl.service
    DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system-services)
install(FILES ${PROJECT_SOURCE_DIR}/data/dbus/Lumivane.LightControl.conf
    DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d)
install(FILES ${filled}/viruv.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# A machine without the board: the virtual board's ACPI bridge on the system bus, its
# unit started by the bus over the board image in the service's state directory.
configure_file(${PROJECT_SOURCE_DIR}/data/dbus/tavlexCom.axdata.system.service.in
    ${filled}/system-services/tavlexCom.axdata.service @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/data/systemd/lumivane-vboard-bridge.service.in
    ${filled}/lumivane-vboard-bridge.service @ONLY)
install(FILES ${filled}/lumivane-vboard-bridge.service DESTINATION ${LUMIVANE_SYSTEMD_UNIT_DIR})
install(FILES ${filled}/system-services/tavlexCom.axdata.service
    DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system-services)
install(FILES ${PROJECT_SOURCE_DIR}/data/dbus/tavlexCom.axdata.conf
    DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d)
