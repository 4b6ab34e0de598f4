# Cross build for i686 Linux with Debian's i686-linux-gnu toolchain
# (g++-i686-linux-gnu), running tests under qemu-user with the toolchain's
# libraries.  i686 is 32-bit: it checks the record layouts and size arithmetic on a
# machine whose pointers, size_t and long are 32 bits wide.
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake
# (.ci/cross.sh i686 does this and runs the tests).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VARNEL_CROSS_TRIPLET i686-linux-gnu)
set(CMAKE_C_COMPILER ${VARNEL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VARNEL_CROSS_TRIPLET}-g++)

# Debian installs the target's C and C++ libraries under /usr/<triplet>.
set(VARNEL_CROSS_SYSROOT /usr/${VARNEL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${VARNEL_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386;-L;${VARNEL_CROSS_SYSROOT})

# The host's GoogleTest is built for the host: build it from source instead.
set(VARNEL_GTEST_FROM_SOURCE ON CACHE BOOL "Build GoogleTest from its sources")

# qemu-i386 (7.2) hangs or crashes in the child of fork() in dynamically
# linked programs, and the death tests and fault sweeps fork: link the
# GoogleTest programs statically (the library itself stays shared).
set(VARNEL_STATIC_TESTS ON CACHE BOOL "Link the test programs statically")
