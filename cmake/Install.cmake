# Where an installed TavixConnect lives (GNU directories), how other projects find it (a CMake
# package and a pkg-config file) and its packages (CPack: Debian packages on Linux, a zip on
# Windows).
#
# Components: Runtime (the library, its resource and window-system libraries, the tool, its
# manual page and completion), Development (header, import library and .def, CMake package,
# pkg-config file, the unversioned library name) and Gtk (the GTK 3 window system, a package
# of its own so that a server without GTK installs the rest).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Where the library looks for its resource libraries and window system: beside itself.
if(WIN32)
  set(TAVIX_INSTALL_MODULEDIR ${CMAKE_INSTALL_BINDIR})
else()
  set(TAVIX_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR})
endif()

install(TARGETS TavixConnect EXPORT TavixConnectTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
# The tool finds the library in the install tree wherever that is.
if(NOT WIN32)
  set_target_properties(tavixconnect PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()
install(TARGETS tavixconnect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES ${TavixConnect_BINARY_DIR}/TavixConnectDEU.DLL DESTINATION ${TAVIX_INSTALL_MODULEDIR}
        COMPONENT Runtime)
if(TARGET TavixConnectGtk3)
  install(TARGETS TavixConnectGtk3 LIBRARY DESTINATION ${TAVIX_INSTALL_MODULEDIR} COMPONENT Gtk)
endif()
install(FILES ${TavixConnect_SOURCE_DIR}/include/TavixConnect.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT Development)
if(WIN32)
  install(FILES ${TAVIX_GENERATED_DIR}/TavixConnect.def DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
else()
  install(FILES ${TavixConnect_SOURCE_DIR}/docs/tavixconnect.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT Runtime)
  install(FILES ${TavixConnect_SOURCE_DIR}/completion/tavixconnect.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tavixconnect COMPONENT Runtime)
endif()

# find_package(TavixConnect CONFIG) gives TavixConnect::TavixConnect.
set(TAVIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TavixConnect)
install(EXPORT TavixConnectTargets NAMESPACE TavixConnect:: DESTINATION ${TAVIX_CMAKE_DIR}
        COMPONENT Development)
configure_package_config_file(${TavixConnect_SOURCE_DIR}/cmake/TavixConnectConfig.cmake.in
  ${TavixConnect_BINARY_DIR}/TavixConnectConfig.cmake INSTALL_DESTINATION ${TAVIX_CMAKE_DIR})
write_basic_package_version_file(${TavixConnect_BINARY_DIR}/TavixConnectConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${TavixConnect_BINARY_DIR}/TavixConnectConfig.cmake
              ${TavixConnect_BINARY_DIR}/TavixConnectConfigVersion.cmake
        DESTINATION ${TAVIX_CMAKE_DIR} COMPONENT Development)

# pkg-config --cflags --libs tavixconnect
file(RELATIVE_PATH TAVIX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" TAVIX_PC_TO_PREFIX "${TAVIX_PC_TO_PREFIX}")
configure_file(${TavixConnect_SOURCE_DIR}/cmake/tavixconnect.pc.in ${TavixConnect_BINARY_DIR}/tavixconnect.pc @ONLY)
install(FILES ${TavixConnect_BINARY_DIR}/tavixconnect.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT Development)

# Packages.
set(CPACK_PACKAGE_NAME tavixconnect)
set(CPACK_PACKAGE_VENDOR "TavixConnect")
set(CPACK_PACKAGE_CONTACT "TavixConnect developers <tavixconnect@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Manage a user's named database server connections")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_COMPONENTS_ALL Runtime Development Gtk)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME tavixconnect)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME tavixconnect-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "tavixconnect (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_GTK_PACKAGE_NAME tavixconnect-gtk3)
  set(CPACK_DEBIAN_GTK_PACKAGE_DEPENDS "tavixconnect (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS tavixconnect-gtk3)
endif()
include(CPack)
