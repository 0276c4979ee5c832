# Cross toolchain for the ARM system of shmpoke: ARMv5 soft-float, runs on any ARM board.
# Debian's arm-linux-gnueabi cross compiler (package g++-arm-linux-gnueabi).
#
# Debian has no uClibc toolchain, so programs link statically against the cross
# glibc as its stand-in: the binaries then run on any arm Linux, and under
# qemu-arm-static without a target root. A firmware build system (Buildroot,
# OpenWrt) passes its own toolchain file instead; the project sets no compiler,
# sysroot or CPU flag of its own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)

set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
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

# The build host has no binfmt handler for arm: ctest starts target programs
# through the user-mode emulator when it is installed.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZEL_QEMU_ARM qemu-arm-static)
  if(ZEL_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_QEMU_ARM})
  endif()
endif()
