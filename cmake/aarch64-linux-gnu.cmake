# Cross-compiles for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; the tests run under
# qemu-user. Everything is linked statically, so qemu runs it with no sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(VORTLE_QEMU qemu-aarch64)
if(VORTLE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORTLE_QEMU})
endif()
