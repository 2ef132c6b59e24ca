# What `cmake --install` puts under the prefix, in the usual places:
#
#   bin/          quillon (the command-line host); libquillon.dll on Windows
#   lib/          libquillon.so; the import libraries on Windows:
#                 libquillon.dll.a (MinGW) and libquillon.lib (Microsoft's linker)
#   include/      quillon.h
#   lib/cmake/quillon/   the CMake package: find_package(quillon) gives quillon::quillon
#   lib/pkgconfig/       quillon.pc
#   share/doc/libquillon/   README, reference, export list, host examples
#   share/man/man1/      quillon.1 (not on Windows)
#
# The Debian package is made by CPack from these same rules. The release
# archives are flat instead (everything side by side, the library beside
# the host): their rules form the component "release", which a plain install
# leaves out (tools/release.py stages it with --component release).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUILLON_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillon)
set(QUILLON_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/libquillon)

install(TARGETS quillon EXPORT quillonTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS quillon_host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/quillon.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The documentation keeps the source tree's shape, so the README's and the
# reference's links hold.
install(FILES README.md src/exports/libquillon.def DESTINATION ${QUILLON_DOC_DIR})
install(FILES docs/exports.md DESTINATION ${QUILLON_DOC_DIR}/docs)
install(FILES docs/benchmarks.md DESTINATION ${QUILLON_DOC_DIR}/docs OPTIONAL)
install(DIRECTORY docs/img/ DESTINATION ${QUILLON_DOC_DIR}/docs/img FILES_MATCHING PATTERN "*.png")
install(FILES examples/host.c examples/host_ctypes.py examples/host.lua DESTINATION ${QUILLON_DOC_DIR}/examples)

# The CMake package. The targets file finds its prefix from where it lies,
# so the package works under any prefix.
install(EXPORT quillonTargets NAMESPACE quillon:: DESTINATION ${QUILLON_CMAKE_DIR})
configure_package_config_file(packaging/quillonConfig.cmake.in ${CMAKE_BINARY_DIR}/quillonConfig.cmake
                              INSTALL_DESTINATION ${QUILLON_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/quillonConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/quillonConfig.cmake ${CMAKE_BINARY_DIR}/quillonConfigVersion.cmake
        DESTINATION ${QUILLON_CMAKE_DIR})

# quillon.pc names the prefix of the install that writes it: the one given
# to `cmake --install --prefix`, or /usr in the Debian package.
set(QUILLON_PC_IN ${PROJECT_SOURCE_DIR}/packaging/quillon.pc.in)
install(CODE "
  set(QUILLON_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(QUILLON_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(QUILLON_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(QUILLON_VERSION \"${PROJECT_VERSION}\")
  set(pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/quillon.pc\")
  message(STATUS \"Installing: \${pc}\")
  configure_file(\"${QUILLON_PC_IN}\" \"\${pc}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${pc}\")
")

if(WIN32)
  # Microsoft's linker takes an import library in its own format, not
  # MinGW's libquillon.dll.a: LLVM's dlltool makes one from the export list,
  # for the target's machine (QUILLON_PE_MACHINE, from the toolchain file).
  # On 32-bit x86 its symbols carry the C prefix (_add, __imp__add); on
  # x86-64 there is none (add, __imp_add). Either way each function is
  # imported by its undecorated name.
  find_program(QUILLON_LLVM_DLLTOOL llvm-dlltool REQUIRED)
  set(QUILLON_MSVC_IMPLIB ${CMAKE_BINARY_DIR}/lib/libquillon.lib)
  add_custom_command(OUTPUT ${QUILLON_MSVC_IMPLIB}
                     COMMAND ${QUILLON_LLVM_DLLTOOL} -m ${QUILLON_PE_MACHINE} -d ${PROJECT_SOURCE_DIR}/src/exports/libquillon.def
                             -l ${QUILLON_MSVC_IMPLIB}
                     DEPENDS ${PROJECT_SOURCE_DIR}/src/exports/libquillon.def
                     COMMENT "Making the import library for Microsoft's linker")
  add_custom_target(quillon_msvc_implib ALL DEPENDS ${QUILLON_MSVC_IMPLIB})
  install(FILES ${QUILLON_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  # The manual page, compressed as Debian keeps them (no name or time in the
  # gzip header, so the same page gives the same bytes).
  set(QUILLON_MAN_GZ ${CMAKE_BINARY_DIR}/quillon.1.gz)
  add_custom_command(OUTPUT ${QUILLON_MAN_GZ}
                     COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/docs/quillon.1 > ${QUILLON_MAN_GZ}
                     DEPENDS ${PROJECT_SOURCE_DIR}/docs/quillon.1
                     COMMENT "Compressing the manual page")
  add_custom_target(quillon_man ALL DEPENDS ${QUILLON_MAN_GZ})
  install(FILES ${QUILLON_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The release archives' contents, flat.
install(FILES $<TARGET_FILE:quillon> DESTINATION . COMPONENT release EXCLUDE_FROM_ALL)
install(TARGETS quillon_host RUNTIME DESTINATION . COMPONENT release EXCLUDE_FROM_ALL)
install(FILES include/quillon.h src/exports/libquillon.def README.md docs/exports.md
              examples/host.c examples/host_ctypes.py examples/host.lua
        DESTINATION . COMPONENT release EXCLUDE_FROM_ALL)
install(FILES docs/benchmarks.md DESTINATION . COMPONENT release EXCLUDE_FROM_ALL OPTIONAL)
if(WIN32)
  install(FILES $<TARGET_LINKER_FILE:quillon> ${QUILLON_MSVC_IMPLIB} DESTINATION . COMPONENT release EXCLUDE_FROM_ALL)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
