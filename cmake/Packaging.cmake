# Desktop integration files and the Debian package (cpack -G DEB in the build directory).
# Install layout: bin/tavrine, share/tavrine/{models,demo}/, share/applications/, share/icons/hicolor/,
# share/metainfo/, share/doc/tavrine/copyright.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/data/expert.brightfen.Tavrine.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/tavrine.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/icons/hicolor/scalable/status
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable)
install(FILES ${PROJECT_SOURCE_DIR}/data/expert.brightfen.Tavrine.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Who owns what the package holds, and the licence of the face models (Apache 2.0) it ships.
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavrine)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrine)
set(CPACK_PACKAGE_VENDOR "Brightfen")
set(CPACK_PACKAGE_CONTACT "Brightfen <tavrine@brightfen.expert>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "privacy screen for the desktop, driven by the webcam")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavrine watches for faces through the webcam and lays a fine diagonal stripe pattern over every screen: \
readable for the person in front, hard to read from the side. Looking away makes it more opaque; a second \
face darkens the screen and raises a notification. Frames stay in memory and are never stored.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://brightfen.expert/tavrine")
# Shared-library dependencies come from dpkg-shlibdeps; what is loaded at run time by name is listed here:
# the landmark model, the GStreamer elements of the capture pipeline,
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# and Qt's SVG plugins, which draw the windows' icon.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libdlib-data, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, libqt6svg6")
# A Wayland desktop without XWayland needs Qt's Wayland platform plugin.
# Qt's own texts (a scroll bar's menu) in French come from its translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-libav, qt6-wayland, qt6-translations-l10n")
# A source-tree cpack run must not pick up build directories or local models.
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/models/" "/tests/artifacts/")
include(CPack)
