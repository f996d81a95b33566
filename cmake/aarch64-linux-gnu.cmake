# Cross-compiling for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) against an arm64 Debian root that holds the target's
# headers and libraries (tools/aarch64_root.sh makes one). The root is named by
# TESSEL_AARCH64_ROOT in the environment, which reaches CMake however it is
# started (by hand, by ctest or by the wheel's build front end).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

if(NOT DEFINED ENV{TESSEL_AARCH64_ROOT} OR NOT IS_DIRECTORY "$ENV{TESSEL_AARCH64_ROOT}/usr/lib/aarch64-linux-gnu")
  message(FATAL_ERROR "TESSEL_AARCH64_ROOT must name an arm64 Debian root (tools/aarch64_root.sh makes one)")
endif()
set(CMAKE_SYSROOT "$ENV{TESSEL_AARCH64_ROOT}")
set(CMAKE_FIND_ROOT_PATH "$ENV{TESSEL_AARCH64_ROOT}")
# Programs (the code generators' Python) from the build machine; everything
# that ends up in the module from the root.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and GoogleTest's discovery run the test programs under user-mode
# emulation, with the root's loader and libraries.
find_program(TESSEL_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(TESSEL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TESSEL_QEMU_AARCH64};-L;$ENV{TESSEL_AARCH64_ROOT}")
endif()
