# The Debian package: the program, its desktop entry and icon, everything
# under /usr, and its runtime needs named as Debian packages. The package's
# version is the project's version, which the updater compares against.

install(TARGETS velto RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/resources/package/velto.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/package/velto.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/resources/fonts/LICENCE.txt DESTINATION share/doc/velto RENAME font-licence.txt)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velto)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop work agent for chartered accountants")
set(CPACK_PACKAGE_DESCRIPTION
    "Velto hosts an agent engine, shows its chat, and gives it tools for the portals,\nbooks and files of a CA practice. The CA keeps every irreversible step.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Hallix <support@hallix.in>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://hallix.in")
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# Depends: the libraries the program links to, as dpkg-shlibdeps finds them in
# the binary (the web engine's helper process comes with its library's entry),
# plus what the program loads without linking: Qt's platform plugins and the
# text-recognition languages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, tesseract-ocr-eng, tesseract-ocr-hin")
include(CPack)
