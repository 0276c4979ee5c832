# Cross toolchain for one of Debian's cross compilers, named by its triple:
#   -DZEL_CROSS_TRIPLE=mipsel-linux-gnu    the player's CPU, little-endian MIPS32
#                                          (package g++-mipsel-linux-gnu)
#   -DZEL_CROSS_TRIPLE=arm-linux-gnueabi   the ARM system of shmpoke: ARMv5
#                                          soft-float, runs on any ARM board
#                                          (package g++-arm-linux-gnueabi)
# The presets of CMakePresets.json pass it.
#
# Debian has no uClibc toolchain, so programs link statically against the cross
# glibc as its stand-in: the binaries then run on any Linux of that CPU, and under
# qemu-<cpu>-static without a target root. A firmware build system (Buildroot,
# OpenWrt) passes its own toolchain file instead; the project sets no compiler,
# sysroot or CPU flag of its own.
if(NOT ZEL_CROSS_TRIPLE)
  message(FATAL_ERROR "cross-glibc.cmake: pass -DZEL_CROSS_TRIPLE=TRIPLE (mipsel-linux-gnu, arm-linux-gnueabi)")
endif()
# try_compile projects read this file again: they need the triple too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZEL_CROSS_TRIPLE)

set(CMAKE_SYSTEM_NAME Linux)
# The CPU is the triple's first field: mipsel, arm.
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${ZEL_CROSS_TRIPLE}")

set(CMAKE_C_COMPILER ${ZEL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZEL_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_CROSS_TRIPLE})
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

# The build host has no binfmt handler for the target: ctest starts target programs
# through the user-mode emulator when it is installed.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZEL_QEMU_USER qemu-${CMAKE_SYSTEM_PROCESSOR}-static)
  if(ZEL_QEMU_USER)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_QEMU_USER})
  endif()
endif()
