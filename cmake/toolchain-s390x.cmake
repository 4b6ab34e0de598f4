# Cross build for s390x Linux with Debian's s390x-linux-gnu toolchain
# (g++-s390x-linux-gnu), running tests under qemu-user with the toolchain's
# libraries.  s390x is big-endian: it checks that every number in a file
# is composed byte by byte, never taken from host memory order.
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x.cmake
# (.ci/cross.sh s390x does this and runs the tests).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(VARNEL_CROSS_TRIPLET s390x-linux-gnu)
set(CMAKE_C_COMPILER ${VARNEL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VARNEL_CROSS_TRIPLET}-g++)

# Debian installs the target's C and C++ libraries under /usr/<triplet>.
set(VARNEL_CROSS_SYSROOT /usr/${VARNEL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${VARNEL_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x;-L;${VARNEL_CROSS_SYSROOT})

# The host's GoogleTest is built for the host: build it from source instead.
set(VARNEL_GTEST_FROM_SOURCE ON CACHE BOOL "Build GoogleTest from its sources")
