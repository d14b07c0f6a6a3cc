# Install rules: headers, the shared library, the tools, a CMake package
# (katraceConfig.cmake, katraceConfigVersion.cmake, the exported targets
# katrace::*) and a pkg-config file, in the GNUInstallDirs layout.
#
# Another library or tool joins the install by adding its target to one of
# the lists below before this file is included; another public header by
# adding it to KATR_INSTALL_HEADERS.
include(CMakePackageConfigHelpers)

# Libraries consumers link: exported as katrace::<target>.
list(APPEND KATR_INSTALL_LIBRARIES katrace katrace_control)
# Public headers: the sources' and the ones the build writes.
list(APPEND KATR_INSTALL_HEADERS
  ${PROJECT_SOURCE_DIR}/include/katrace.h
  ${PROJECT_SOURCE_DIR}/include/katrace_c.h
  ${PROJECT_SOURCE_DIR}/include/katrace_control.h
  ${PROJECT_BINARY_DIR}/include/katrace_version.h)
# Programs installed under bin/ when the tools are built.
if(KATR_BUILD_TOOLS)
  list(APPEND KATR_INSTALL_TOOLS katr_check katr_viewer katrctl)
endif()

set(KATR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/katrace)

install(FILES ${KATR_INSTALL_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT devel)
# On Windows the DLL goes to bin/ (RUNTIME) and its import library to lib/
# (ARCHIVE); elsewhere the shared library and its version links go to lib/.
install(TARGETS ${KATR_INSTALL_LIBRARIES} EXPORT katraceTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT devel
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT devel
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(KATR_INSTALL_TOOLS)
  install(TARGETS ${KATR_INSTALL_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT devel
    FILES_MATCHING PATTERN "*.md")
endif()

# The CMake package: find_package(katrace 1.0) accepts any 1.x.
install(EXPORT katraceTargets NAMESPACE katrace:: FILE katraceTargets.cmake
  DESTINATION ${KATR_CMAKE_DIR} COMPONENT devel)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/katraceConfig.cmake.in
  ${PROJECT_BINARY_DIR}/katraceConfig.cmake INSTALL_DESTINATION ${KATR_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/katraceConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/katraceConfig.cmake ${PROJECT_BINARY_DIR}/katraceConfigVersion.cmake
  DESTINATION ${KATR_CMAKE_DIR} COMPONENT devel)

# pkg-config: paths relative to the .pc file's own place, so that the tree
# works wherever it is unpacked (pcfiledir is set by pkg-config itself).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KATR_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH up "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" up "${up}")
  set(KATR_PC_PREFIX "\${pcfiledir}/${up}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(KATR_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(KATR_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/katrace.pc.in ${PROJECT_BINARY_DIR}/katrace.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/katrace.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT devel)

# The C interface's module-definition file, and on Windows the MSVC-format
# import library beside the MinGW one when llvm-dlltool made it.
install(FILES ${KATR_DEF_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT devel)
if(KATR_MSVC_IMPORT_LIB)
  install(FILES ${KATR_MSVC_IMPORT_LIB} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT devel)
endif()
