# Captures the build's date, machine, operating system and user at configure time.
# A cross build reports the target's system and processor as its operating system.
# The date is the build folder's first configure, kept in the cache, so that a
# later configure writes the same header and nothing recompiles or relinks.
if(NOT KQ_BUILD_DATE_CACHED)
  execute_process(COMMAND date OUTPUT_VARIABLE date_now OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(KQ_BUILD_DATE_CACHED "${date_now}" CACHE INTERNAL "date of the first configure")
endif()
set(KQ_BUILD_DATE "${KQ_BUILD_DATE_CACHED}")
execute_process(COMMAND uname -n OUTPUT_VARIABLE KQ_BUILD_MACHINE OUTPUT_STRIP_TRAILING_WHITESPACE)
if(CMAKE_CROSSCOMPILING)
  # The system the programs are built for, not the one building them.
  string(STRIP "${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_VERSION} ${CMAKE_SYSTEM_PROCESSOR}" KQ_BUILD_OS)
  string(REPLACE "  " " " KQ_BUILD_OS "${KQ_BUILD_OS}")
else()
  execute_process(COMMAND uname -s -r -m OUTPUT_VARIABLE KQ_BUILD_OS OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
execute_process(COMMAND id -un OUTPUT_VARIABLE KQ_BUILD_USER OUTPUT_STRIP_TRAILING_WHITESPACE)
foreach(v KQ_BUILD_DATE KQ_BUILD_MACHINE KQ_BUILD_OS KQ_BUILD_USER)
  if("${${v}}" STREQUAL "")
    set(${v} "unknown")
  endif()
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/cmake/build_info.h.in ${CMAKE_BINARY_DIR}/generated/build_info.h @ONLY)
