# `cmake --install` and the Debian package. The library and its decoder go side by side into the
# library directory (the library starts ombrix-decode from its own directory), the runner into
# bin/ (it finds the library through ../lib), the generated C declarations into include/, and a
# pkg-config file that works wherever the tree is unpacked.
include(GNUInstallDirs)

install(TARGETS ombrix LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ombrix_decoder RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET ombrix_runner)
  install(TARGETS ombrix_runner RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${OMBRIX_GENERATED_DIR}/ombrix_exports.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

file(RELATIVE_PATH OMBRIX_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" OMBRIX_PC_TO_PREFIX "${OMBRIX_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/ombrix.pc.in ${CMAKE_BINARY_DIR}/ombrix.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ombrix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES examples/demo.gml examples/first.gml examples/rows.gml examples/gallery.gml examples/host.c
              examples/astronaut.jpg
              examples/stamp.brush examples/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ombrix)
set(CPACK_PACKAGE_VENDOR "Ombrix developers")
set(CPACK_PACKAGE_CONTACT "Ombrix developers <ombrix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Image processing for GML script hosts, with a script runner")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# dpkg-shlibdeps names the Debian runtime packages (DevIL, libpng, libffi, the C++ runtime).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
