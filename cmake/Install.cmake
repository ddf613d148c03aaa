# Installing as a desktop application: the two programs, a desktop entry with
# its icon and file type, the README (the help menu's home page) and the
# sample program. Installed under /usr the executable's folder is not
# writable, so the data folder is the per-user one.
include(GNUInstallDirs)
install(TARGETS tarvex tarvex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/tarvex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/icons/tarvex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES resources/tarvex-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tarvex.xml)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvex)
install(FILES resources/samples/sample.nc DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/samples)

# cpack -G DEB: a Debian package that depends on Debian's own packages only.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "NC program workstation: editor, RS-232C transfers, toolpath plot and DXF export")
set(CPACK_PACKAGE_CONTACT "Tarvex developers <tarvex@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libqt6core6, libqt6gui6, libqt6widgets6, qt6-qpa-plugins, libqt6svg6, libqscintilla2-qt6-15, qt6-translations-l10n, fonts-ipafont-mincho, fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
