# The firmware's paths come from zelmsg/include/zel_paths.h, the one place they are
# written: every '#define ZEL_... "literal"' line there, or '#define ZEL_... ZEL_OTHER
# "literal"' for a path inside one defined above it, becomes a CMake variable of the
# same name, and player/bin/zel_paths.sh exports them to the shell.
set(zel_paths_h ${PROJECT_SOURCE_DIR}/zelmsg/include/zel_paths.h)
# An edit of the header configures again, so that the install and the scripts follow.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zel_paths_h})
file(STRINGS ${zel_paths_h} zel_path_lines REGEX "^#define ZEL_[A-Z0-9_]+ ")
set(zel_paths_sh "# The firmware's paths, written from zelmsg/include/zel_paths.h at configure time.\n")
set(ZEL_PATH_NAMES "")
foreach(line IN LISTS zel_path_lines)
  if(line MATCHES "^#define (ZEL_[A-Z0-9_]+) \"([^\"]*)\"$")
    set(name ${CMAKE_MATCH_1})
    set(value "${CMAKE_MATCH_2}")
  elseif(line MATCHES "^#define (ZEL_[A-Z0-9_]+) (ZEL_[A-Z0-9_]+) \"([^\"]*)\"$")
    set(name ${CMAKE_MATCH_1})
    set(value "${CMAKE_MATCH_3}")
    if(NOT CMAKE_MATCH_2 IN_LIST ZEL_PATH_NAMES)
      message(FATAL_ERROR "zel_paths.h: ${name} is built from ${CMAKE_MATCH_2}, which no line above defines")
    endif()
    set(value "${${CMAKE_MATCH_2}}${value}")
  else()
    # A path the shell and the install could not read would be missing there.
    message(FATAL_ERROR "zel_paths.h: not one literal string, nor a path's name and one: ${line}")
  endif()
  if(value MATCHES "[^-A-Za-z0-9_./]")
    message(FATAL_ERROR "zel_paths.h: ${name} holds a character the shell would need quoted")
  endif()
  set(${name} "${value}")
  list(APPEND ZEL_PATH_NAMES ${name})
  string(APPEND zel_paths_sh "export ${name}=${value}\n")
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
