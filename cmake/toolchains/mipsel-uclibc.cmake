# Cross toolchain for the player with its own C library: little-endian MIPS32, o32,
# every program linked dynamically against uClibc-ng, as the player's programs are
# (ELF interpreter /lib/ld-uClibc.so.0, libc.so.0 and nothing else).
#
# Debian has no uClibc toolchain: Debian's mipsel-linux-gnu cross compiler is used
# without its glibc. Headers come from the uClibc sysroot (with the cross kernel
# headers) and from gcc itself, C++ headers from the compiler's libstdc++ (only its
# C wrappers are used), start files and libc from the sysroot, libgcc from gcc. No
# libstdc++ and no part of glibc goes into a program.
#
# The sysroot is built once by scripts/uclibc.sh (cached outside the build tree);
# pass -DZEL_UCLIBC_SYSROOT=DIR to use another one.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

if(NOT ZEL_UCLIBC_SYSROOT)
  execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../../scripts/uclibc.sh
    OUTPUT_VARIABLE ZEL_UCLIBC_SYSROOT OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "uClibc sysroot: scripts/uclibc.sh failed")
  endif()
endif()
if(NOT EXISTS ${ZEL_UCLIBC_SYSROOT}/lib/ld-uClibc.so.0)
  message(FATAL_ERROR "uClibc sysroot ${ZEL_UCLIBC_SYSROOT} holds no lib/ld-uClibc.so.0")
endif()
set(ZEL_UCLIBC_SYSROOT ${ZEL_UCLIBC_SYSROOT} CACHE PATH "uClibc sysroot of the player" FORCE)
# try_compile projects see the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZEL_UCLIBC_SYSROOT)

set(S ${ZEL_UCLIBC_SYSROOT})
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=include
  OUTPUT_VARIABLE zel_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpversion
  OUTPUT_VARIABLE zel_gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
set(zel_cxx_include /usr/mipsel-linux-gnu/include/c++/${zel_gcc_version})

set(CMAKE_SYSROOT_COMPILE "")
set(CMAKE_FIND_ROOT_PATH ${S})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 64-bit file offsets, as firmware builds compile (readdir on ext4 under qemu-user).
# Programs are not position independent, as on the player.
set(zel_c_inc "-nostdinc -isystem ${zel_gcc_include} -isystem ${S}/usr/include")
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -fno-pie ${zel_c_inc}")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -fno-pie -nostdinc++ -isystem ${CMAKE_CURRENT_LIST_DIR}/uclibc-cxx -isystem ${zel_cxx_include} -isystem ${zel_cxx_include}/mipsel-linux-gnu ${zel_c_inc}")

# Start files from the sysroot (-B is searched before the cross glibc's), gcc's
# own crtbegin/crtend, no default libraries: libc is uClibc's, then libgcc. The
# sysroot also resolves the absolute paths in uClibc's libc.so link script.
set(zel_link "--sysroot=${S} -B${S}/usr/lib/ -nodefaultlibs -L${S}/usr/lib -Wl,-rpath-link,${S}/lib")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${zel_link} -no-pie -Wl,--dynamic-linker=/lib/ld-uClibc.so.0")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${zel_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${zel_link}")
set(CMAKE_C_STANDARD_LIBRARIES "-lc -lgcc")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lc -lgcc")
unset(S)

# No binfmt handler on the build host: ctest would start target programs through
# the user-mode emulator, which finds the C library under the sysroot.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZEL_QEMU_MIPSEL qemu-mipsel-static)
  if(ZEL_QEMU_MIPSEL)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_QEMU_MIPSEL} -L ${ZEL_UCLIBC_SYSROOT})
  endif()
endif()
