# The Debian package: CPack's DEB generator over the installation above.
# Depends come from the binaries (dpkg-shlibdeps); the file is named
# marquen_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marquen)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Marquen developers")
set(CPACK_PACKAGE_CONTACT "Marquen developers <developers@marquen.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "logos for receipt printers and the printer's logo memory")
# The long description: CPack indents it and marks the empty lines.
set(CPACK_PACKAGE_DESCRIPTION
"Marquen prepares a shop's logo for a receipt printer: it reads a monochrome
bitmap, a file in one of four printer logo formats, or a colour or grey
picture (PNG, JPEG, GIF, WebP, TIFF, any bitmap) that it turns into dots
with a choice of dithering, cuts the part to keep and converts it to the
printer's formats.

It downloads the logo into one of the printer's 256 logo slots over a
serial, parallel, USB or network port and checks the checksum the printer
reports, to one printer or to many at once. It also uploads, erases and
prints stored logos and reads and sets the printer's logo memory.

The package holds the desktop program (marquen), a command-line program for
scripts (marquen-cli) and a virtual receipt printer for trying Marquen
without a printer (vprinter).")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries are found in the build, not looked up as packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
