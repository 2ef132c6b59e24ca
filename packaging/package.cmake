# The Debian package of the Linux build, made by CPack from the install rules
# (`cpack --config CPackConfig.cmake` in the build folder; `./dev release`
# puts it beside the release archives). Its dependencies are computed by
# dpkg-shlibdeps from the libraries that the library and the host link.
if(WIN32)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libquillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "libquillon developers")
set(CPACK_PACKAGE_CONTACT "libquillon developers <maintainers@libquillon.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "utility library for scripting hosts that know only numbers and texts")
set(CPACK_PACKAGE_DESCRIPTION
    "libquillon gives a scripting host key files and byte-wise file encryption\n(Blowfish), MD5 and SHA-1 digests, ZIP extraction and creation, directory\nand file helpers and modal windows (GTK 3), as 22 C functions that take and\nreturn only numbers and texts. The package holds the library, its header,\na CMake package and a pkg-config file, the command-line host quillon and\nthe documentation with worked hosts in C, Python and LuaJIT.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Files and folders owned by root whoever builds the package.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
