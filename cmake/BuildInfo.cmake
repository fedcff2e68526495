# Captures the build's date, machine, operating system and user once, at configure time.
# A cross build reports the target's system and processor as its operating system.
execute_process(COMMAND date OUTPUT_VARIABLE KQ_BUILD_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
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
