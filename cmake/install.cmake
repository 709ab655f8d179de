# Installation and the Debian package: the program, nimbo-batch with its manual page, the library and
# the window runtime it stands on (with SONAME versions), the public header and the headers it
# includes, a pkg-config file, a desktop entry with its icon, and the README. Kept apart from the
# rest of the build so that both change without touching each other.
include(GNUInstallDirs)

set(NIMBO_SOVERSION 0)
set_target_properties(nimbo uirt PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${NIMBO_SOVERSION})

# Relative run paths: an installed tree works wherever it is put, a temporary prefix included.
file(RELATIVE_PATH bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(tarnwick nimbo-batch PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
set_target_properties(nimbo uirt PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS tarnwick nimbo-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/cli/nimbo-batch.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(TARGETS nimbo uirt LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# nimbo.h includes the text, queue and guarded-value headers of types/; they go beside it.
set(nimbo_includedir ${CMAKE_INSTALL_INCLUDEDIR}/nimbo)
install(FILES ${PROJECT_SOURCE_DIR}/include/nimbo.h DESTINATION ${nimbo_includedir})
install(FILES ${PROJECT_SOURCE_DIR}/types/include/ui/text.h ${PROJECT_SOURCE_DIR}/types/include/ui/queue.h
              ${PROJECT_SOURCE_DIR}/types/include/ui/guarded.h
        DESTINATION ${nimbo_includedir}/ui)

file(RELATIVE_PATH NIMBO_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" NIMBO_PC_TO_PREFIX "${NIMBO_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/nimbo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/nimbo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nimbo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/resources/tarnwick/desktop/tarnwick.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/tarnwick/icons/tarnwick.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package: `cpack -G DEB` in the build directory. Its dependencies are the packages
# that provide the libraries the binaries load (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nimbo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "FTP client: the program tarnwick, the batch command nimbo-batch and the library libnimbo")
set(CPACK_PACKAGE_CONTACT "nimbo developers <nimbo@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own libraries are found in the package, not in another one.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_FULL_LIBDIR})
include(CPack)
