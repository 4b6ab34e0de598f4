# Installation: the shared library with its soname, the host utility
# stand-in beside it (libtessel, which libvarnel needs and hosts call), the
# two public headers, a pkg-config file for each and a CMake package, so that both
#   pkg-config --cflags --libs varnel
#   find_package(varnel 1 REQUIRED) + target_link_libraries(app varnel::varnel)
# work against an installed copy.  The varnel tool and its man page install
# from tools/CMakeLists.txt.  The desktop integration installs under share/:
# the MIME types of the containers (shared-mime-info) and, with the tool it
# runs, the thumbnailer entry.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VARNEL_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/varnel)

install(TARGETS varnel tessel EXPORT varnelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Only the two public headers: folder-internal headers never leave the tree.
install(FILES ${PROJECT_SOURCE_DIR}/include/varnel.h ${PROJECT_SOURCE_DIR}/include/tessel.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# CMake package.  SameMajorVersion: the soname changes with the major
# version, and so does what find_package accepts.
install(EXPORT varnelTargets NAMESPACE varnel:: DESTINATION ${VARNEL_CMAKE_INSTALL_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/varnelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/varnelConfig.cmake
  INSTALL_DESTINATION ${VARNEL_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/varnelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/varnelConfig.cmake ${PROJECT_BINARY_DIR}/varnelConfigVersion.cmake
  DESTINATION ${VARNEL_CMAKE_INSTALL_DIR})

# pkg-config file.  The prefix is found relative to the .pc file itself, so
# the package stays usable when installed with `cmake --install --prefix`
# somewhere else than the configured prefix (staging, tests, relocation).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VARNEL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VARNEL_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(VARNEL_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  # "lib/pkgconfig" -> "../..", "lib/x86_64-linux-gnu/pkgconfig" -> "../../.."
  file(RELATIVE_PATH _varnel_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" _varnel_pc_up "${_varnel_pc_up}")
  set(VARNEL_PC_PREFIX "\${pcfiledir}/${_varnel_pc_up}")
  set(VARNEL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(VARNEL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
set(VARNEL_PC_LIBS_PRIVATE "")
if(VARNEL_WITH_PNG)
  # libpng16.so -> -lpng16
  get_filename_component(_varnel_png_name "${PNG_LIBRARY}" NAME_WE)
  string(REGEX REPLACE "^lib" "" _varnel_png_name "${_varnel_png_name}")
  set(VARNEL_PC_LIBS_PRIVATE "-l${_varnel_png_name} -lz -lm")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/varnel.pc.in ${PROJECT_BINARY_DIR}/varnel.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/tessel.pc.in ${PROJECT_BINARY_DIR}/tessel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/varnel.pc ${PROJECT_BINARY_DIR}/tessel.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Desktop integration.  A package's post-install step (or the user, for a
# prefix of their own) runs update-mime-database on share/mime afterwards.
install(FILES ${PROJECT_SOURCE_DIR}/share/mime/packages/varnel.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
if(VARNEL_BUILD_TOOLS)
  install(FILES ${PROJECT_SOURCE_DIR}/share/thumbnailers/varnel.thumbnailer
    DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
endif()
