# Installing as a desktop application: the two programs, a desktop entry with
# its icon and file type, the README (the help menu's home page) and the
# sample program. Installed under /usr the executable's folder is not
# writable, so the data folder is the per-user one.
include(GNUInstallDirs)
install(TARGETS tarvex tarvex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tarvex)
install(FILES resources/tarvex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tarvex)
install(FILES resources/icons/tarvex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT tarvex)
install(FILES resources/tarvex-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tarvex.xml
        COMPONENT tarvex)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex COMPONENT tarvex)
install(FILES resources/samples/sample.nc DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/samples COMPONENT tarvex)

# The DNC service: its program, its systemd unit (installed, not enabled), an
# example configuration and the README.
install(TARGETS tarvex-dnc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dnc)
install(FILES resources/dnc/tarvex-dnc.service DESTINATION lib/systemd/system COMPONENT dnc)
install(FILES README.md resources/dnc/dnc.ini.example DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex-dnc
        COMPONENT dnc)

# Debian's copyright and changelog in each package's doc folder. The
# changelog is made here, compressed without name or time (gzip -n) so every
# build gives the same bytes, and dated by SOURCE_DATE_EPOCH where set (else
# at configure time). A
# version without a Debian revision makes native packages, whose changelog
# is changelog.gz.
find_program(GZIP gzip REQUIRED)
set(TARVEX_MAINTAINER "Tarvex developers <tarvex@example.org>")
string(TIMESTAMP TARVEX_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(resources/debian/changelog.in debian/changelog @ONLY)
add_custom_command(OUTPUT debian/changelog.gz
  COMMAND ${GZIP} -9nkf changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/debian VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)
install(FILES resources/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex COMPONENT tarvex)
install(FILES resources/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex-dnc COMPONENT dnc)

# cpack -G DEB: two Debian packages, tarvex and tarvex-dnc, that depend on
# Debian's own packages only.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tarvex dnc)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_DEBIAN_TARVEX_PACKAGE_NAME tarvex)
set(CPACK_DEBIAN_DNC_PACKAGE_NAME tarvex-dnc)
set(CPACK_DEBIAN_DNC_PACKAGE_DEPENDS "libc6, libstdc++6, libsystemd0, libcpp-httplib0.11, adduser")
set(CPACK_DEBIAN_DNC_PACKAGE_SECTION net)
set(CPACK_DEBIAN_DNC_DESCRIPTION "DNC service for CNC machine tools
Serves every machine of a shop at once over serial lines and serial device
servers: what a machine punches out is saved, a punched request is answered
from the program library, a drip request is sent as a tape run.")
set(CPACK_DEBIAN_DNC_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/resources/dnc/postinst
    ${CMAKE_SOURCE_DIR}/resources/dnc/prerm ${CMAKE_SOURCE_DIR}/resources/dnc/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Each package's summary is the first line of its own description: no
# package-wide summary, which CPack would put above both. CPack indents the
# lines below it.
set(CPACK_DEBIAN_TARVEX_DESCRIPTION "NC program workstation: editor, RS-232C transfers, toolpath plot and DXF export
Holds one NC part program (ISO G-code text) in an editor, exchanges programs
with CNC controllers, tape punchers and inspection devices over an RS-232C
line or a serial device server, draws the program's toolpath and exports it
as DXF. The user interface is Japanese.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TARVEX_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_TARVEX_PACKAGE_DEPENDS
    "libc6, libstdc++6, libqt6core6, libqt6gui6, libqt6widgets6, qt6-qpa-plugins, libqt6svg6, libqscintilla2-qt6-15, qt6-translations-l10n, fonts-ipafont-mincho, fonts-ipafont-gothic")
set(CPACK_DEBIAN_TARVEX_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
