# The firmware's paths come from zelmsg/include/zel_paths.h, the one place they are
# written: every '#define ZEL_... "literal"' line there becomes a CMake variable of
# the same name, and player/bin/zel_paths.sh hands them to the shell.
set(zel_paths_h ${PROJECT_SOURCE_DIR}/zelmsg/include/zel_paths.h)
# An edit of the header configures again, so that the install and the scripts follow.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zel_paths_h})
file(STRINGS ${zel_paths_h} zel_path_lines REGEX "^#define ZEL_[A-Z_]+ \"[^\"]*\"$")
set(zel_paths_sh "# The firmware's paths, written from zelmsg/include/zel_paths.h at configure time.\n")
foreach(line IN LISTS zel_path_lines)
  string(REGEX REPLACE "^#define (ZEL_[A-Z_]+) \"([^\"]*)\"$" "\\1;\\2" pair "${line}")
  list(GET pair 0 name)
  list(GET pair 1 value)
  set(${name} "${value}")
  string(APPEND zel_paths_sh "${name}=${value}\n")
endforeach()
if(NOT ZEL_BIN_DIR)
  message(FATAL_ERROR "zel_paths.h names no ZEL_BIN_DIR")
endif()

# The programs install where the programs and the firmware look for them. This is
# no cache option: the daemon, the queue key, the boot scripts and the firmware's
# own scripts name the same folder, so it moves in zel_paths.h or not at all.
if(DEFINED CACHE{ZEL_BINDIR})
  if(NOT "$CACHE{ZEL_BINDIR}" STREQUAL "${ZEL_BIN_DIR}")
    message(FATAL_ERROR "ZEL_BINDIR=$CACHE{ZEL_BINDIR}: the programs' folder is "
                        "ZEL_BIN_DIR in zelmsg/include/zel_paths.h; change it there")
  endif()
  unset(ZEL_BINDIR CACHE)
endif()
set(ZEL_BINDIR "${ZEL_BIN_DIR}")

# For the simulated player and its tests, which run on the build host only.
if(BUILD_TESTING)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/player/bin/zel_paths.sh CONTENT "${zel_paths_sh}" @ONLY)
endif()
