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

# cpack -G DEB: two Debian packages, tarvex and tarvex-dnc, that depend on
# Debian's own packages only.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tarvex dnc)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_DEBIAN_TARVEX_PACKAGE_NAME tarvex)
set(CPACK_DEBIAN_DNC_PACKAGE_NAME tarvex-dnc)
set(CPACK_DEBIAN_DNC_PACKAGE_DEPENDS "libc6, libstdc++6, adduser")
set(CPACK_DEBIAN_DNC_PACKAGE_SECTION net)
set(CPACK_DEBIAN_DNC_DESCRIPTION "DNC service for CNC machine tools
 Serves every machine of a shop at once over serial lines and serial device
 servers: what a machine punches out is saved, a punched request is answered
 from the program library, a drip request is sent as a tape run.")
set(CPACK_DEBIAN_DNC_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/resources/dnc/postinst)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "NC program workstation: editor, RS-232C transfers, toolpath plot and DXF export")
set(CPACK_PACKAGE_CONTACT "Tarvex developers <tarvex@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_TARVEX_PACKAGE_DEPENDS
    "libc6, libstdc++6, libqt6core6, libqt6gui6, libqt6widgets6, qt6-qpa-plugins, libqt6svg6, libqscintilla2-qt6-15, qt6-translations-l10n, fonts-ipafont-mincho, fonts-ipafont-gothic")
set(CPACK_DEBIAN_TARVEX_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
