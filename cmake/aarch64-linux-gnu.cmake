# Cross build for 64-bit Arm with Debian's toolchain; programs built here run
# under qemu-user with the cross sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
# The cross toolchain's own tree, then this machine's: the headers and
# CMake packages that are the same for every architecture.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
# The emulated machine's lane unpacks its arm64 libraries into a tree of
# their own (scripts/aarch64-system/arm64-root.sh), searched before the
# others.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HYX_ARM64_ROOT)
if(HYX_ARM64_ROOT)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${HYX_ARM64_ROOT}")
endif()
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
