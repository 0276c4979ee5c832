# Cross toolchain for the player: little-endian MIPS32.
# Debian's mipsel-linux-gnu cross compiler (package g++-mipsel-linux-gnu).
#
# Debian has no uClibc toolchain, so programs link statically against the cross
# glibc as its stand-in: the binaries then run on any mipsel Linux, and under
# qemu-mipsel-static without a target root. A firmware build system (Buildroot,
# OpenWrt) passes its own toolchain file instead; the project sets no compiler,
# sysroot or CPU flag of its own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# 64-bit file offsets, as firmware builds compile: 32-bit readdir() fails with
# EOVERFLOW on the 64-bit directory offsets of ext4 when a 64-bit host kernel
# serves the program (qemu-user).
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# The build host has no binfmt handler for mipsel: ctest starts target programs
# through the user-mode emulator when it is installed.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZEL_QEMU_MIPSEL qemu-mipsel-static)
  if(ZEL_QEMU_MIPSEL)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_QEMU_MIPSEL})
  endif()
endif()
