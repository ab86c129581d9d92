# The Debian package: cpack -G DEB in a build folder (scripts/package.sh)
# gives brenwick_<version>_amd64.deb with both programs, the desktop entry,
# icons, AppStream metadata, manual pages and bash completion. Its run-time
# dependencies are found from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brenwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brenwick")
set(CPACK_PACKAGE_CONTACT "Brenwick developers <brenwick@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "programmer for AVR microcontrollers on a serial-port ISP adapter")
set(CPACK_PACKAGE_DESCRIPTION
  "Brenwick writes, reads, verifies and erases the flash, EEPROM, lock bits and
fuses of Atmel AVR microcontrollers through a passive in-system-programming
adapter on a serial port. It reads Intel HEX, raw binary and avr-gcc's ELF
files. brenwick-cli does the same from scripts and Makefiles and takes the
AVR toolchain's -p/-U command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
include(CPack)
