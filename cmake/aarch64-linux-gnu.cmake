# Cross build for 64-bit ARM Linux with Debian's cross compilers
# (g++-aarch64-linux-gnu); programs and tests run under qemu-user:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KQ_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${KQ_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KQ_CROSS_TRIPLE}-g++)
set(KQ_CROSS_SYSROOT /usr/${KQ_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${KQ_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# ctest, test discovery and the tests' child programs go through the emulator.
find_program(KQ_QEMU qemu-aarch64)
if(KQ_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KQ_QEMU} -L ${KQ_CROSS_SYSROOT})
endif()
