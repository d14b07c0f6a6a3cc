# The C interface's build products beside the library (included by the top
# CMakeLists.txt after the katrace target):
# - katrace.def, kept in the tree: every export of katrace.dll; a test
#   compares it with the DLL's export table (tests/capi);
# - katrace.lib, an import library in the MSVC format made from katrace.def
#   by llvm-dlltool when it is found, so that hosts linked by MSVC or lld-link
#   use the MinGW-built DLL through the C interface.
set(KATR_DEF_FILE ${PROJECT_SOURCE_DIR}/cmake/katrace.def)
set(KATR_MSVC_IMPORT_LIB "")
if(WIN32)
  find_program(KATR_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
  if(KATR_LLVM_DLLTOOL)
    set(KATR_MSVC_IMPORT_LIB ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/katrace.lib)
    add_custom_command(OUTPUT ${KATR_MSVC_IMPORT_LIB}
      COMMAND ${KATR_LLVM_DLLTOOL} -m i386:x86-64 -d ${KATR_DEF_FILE} -D katrace.dll -l ${KATR_MSVC_IMPORT_LIB}
      DEPENDS ${KATR_DEF_FILE}
      COMMENT "MSVC import library katrace.lib")
    add_custom_target(katrace_msvc_lib ALL DEPENDS ${KATR_MSVC_IMPORT_LIB})
    add_dependencies(katrace_msvc_lib katrace)
  else()
    message(STATUS "llvm-dlltool not found: no MSVC import library katrace.lib")
  endif()
endif()
