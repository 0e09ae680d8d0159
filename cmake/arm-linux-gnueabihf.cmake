# Cross build for 32-bit ARM Linux (hard float) with Debian's cross compiler:
#   cmake -S . -B build/arm32 -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# Programs built here run on the build machine through qemu-arm, which finds
# the target's C and C++ libraries under the cross toolchain's sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ORVEL_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${ORVEL_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ORVEL_TRIPLE}-g++)

set(ORVEL_SYSROOT /usr/${ORVEL_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${ORVEL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${ORVEL_SYSROOT})

# The host's GoogleTest is built for the host; build the target's own from the
# source Debian ships.
set(ORVEL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source to build the tests with")
