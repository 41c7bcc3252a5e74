# Installation of the three programs with desktop entries and icons, and the Debian package
# (cpack -G DEB). The icons are the programs' own window icons, drawn at build time.
include(GNUInstallDirs)

# The recorder starts the other two by their bare names, beside its own executable first.
install(TARGETS QuillmarLiteModbus Tallyforge Trendscope RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/desktop/quillmarlitemodbus.desktop
              ${CMAKE_CURRENT_LIST_DIR}/desktop/tallyforge.desktop
              ${CMAKE_CURRENT_LIST_DIR}/desktop/trendscope.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_BINARY_DIR}/recorder/resources/recorder_images/img/I_2.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME quillmarlitemodbus.png)
install(FILES ${CMAKE_BINARY_DIR}/reportgen/reportgen_images/img/I_2.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME tallyforge.png)
install(FILES ${CMAKE_BINARY_DIR}/viewer/viewer_images/img/TrendscopeIcon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME trendscope.png)

set(CPACK_PACKAGE_NAME quillmar-lite-modbus)
set(CPACK_PACKAGE_VENDOR "Quillmar")
set(CPACK_PACKAGE_CONTACT "Quillmar maintainers <maintainers@quillmar.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Recorder of wireless sensor data from Modbus TCP gateways, with a report generator and a data viewer")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Libraries the programs link are found by dpkg-shlibdeps; plugins loaded at run time are not:
# the SQLite driver and the audio back end must be named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt5sql5-sqlite, libqt5multimedia5-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
