# Consumer tests: the tree just built, used as a consumer would use it.
#   consumer_install         installs the build to a fresh prefix (fixture)
#   consumer_find_package    tests/consumer built against that prefix
#   consumer_subdirectory    tests/consumer with katrace's sources added as a
#                            subdirectory (native only: a second full build)
#   consumer_pkg_config      consumer.cpp compiled with pkg-config's flags
#                            (native only)
# Each consumer runs (under the cross-build emulator, if any) and checks its
# own log line. Not in the sanitizer and fuzz builds: the consumer is built
# without their flags.
if(KATR_SANITIZE STREQUAL "" AND NOT KATR_FUZZ AND KATR_INSTALL)
  set(dir ${PROJECT_SOURCE_DIR}/tests/consumer)
  set(work ${PROJECT_BINARY_DIR}/consumer)
  set(common "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}" "-DBUILD_DIR=${PROJECT_BINARY_DIR}" "-DWORK=${work}"
             "-DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE}" "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
             "-DCXX=${CMAKE_CXX_COMPILER}" "-DGENERATOR=${CMAKE_GENERATOR}")
  set(modes install find_package)
  if(NOT CMAKE_CROSSCOMPILING)
    list(APPEND modes subdirectory pkg_config)
  endif()
  foreach(mode ${modes})
    add_test(NAME consumer_${mode}
             COMMAND ${CMAKE_COMMAND} -DMODE=${mode} ${common} -P ${dir}/run_consumer.cmake)
    set_tests_properties(consumer_${mode} PROPERTIES TIMEOUT 900 LABELS consumer)
    if(mode STREQUAL "install")
      set_tests_properties(consumer_${mode} PROPERTIES FIXTURES_SETUP katr_installed)
    else()
      set_tests_properties(consumer_${mode} PROPERTIES FIXTURES_REQUIRED katr_installed)
    endif()
  endforeach()
endif()
