# The firmware's programs, each declared once, where its folder makes its target:
#
#   zel_program(TARGET ROLE service|tool)
#       installs TARGET into the firmware's bin folder and puts it on the list of
#       programs. A service is started on the player by the boot script or by the
#       daemon and must run without libstdc++; a tool is run by hand or by scripts.
#
# The list is written to <build>/programs.txt, one "NAME ROLE" line per program, for
# the scripts that check, measure or run every program; the target zel_programs
# builds them all, and zel_player_helpers what the simulated player needs beside them.

add_custom_target(zel_programs)
add_custom_target(zel_player_helpers)
set_property(GLOBAL PROPERTY ZEL_PROGRAMS "")

function(zel_program target)
  cmake_parse_arguments(P "" "ROLE" "" ${ARGN})
  if(NOT P_ROLE MATCHES "^(service|tool)$")
    message(FATAL_ERROR "zel_program(${target}): ROLE ${P_ROLE} is neither service nor tool")
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${ZEL_BINDIR})
  add_dependencies(zel_programs ${target})
  set_property(GLOBAL APPEND PROPERTY ZEL_PROGRAMS "${target} ${P_ROLE}")
endfunction()

# zel_programs_of(OUT [ROLE]): the declared programs (of one role).
function(zel_programs_of out)
  get_property(all GLOBAL PROPERTY ZEL_PROGRAMS)
  set(names "")
  foreach(line IN LISTS all)
    string(REPLACE " " ";" line "${line}")
    list(GET line 0 name)
    list(GET line 1 role)
    if(ARGC LESS 2 OR role STREQUAL ARGV1)
      list(APPEND names ${name})
    endif()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

function(zel_write_program_list)
  get_property(all GLOBAL PROPERTY ZEL_PROGRAMS)
  list(JOIN all "\n" text)
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/programs.txt CONTENT "${text}\n")
  # The player's helpers that exist in this build.
  foreach(h zel-init zel-idle zel-kernel zel_mtdemu zel-mtd zel_service_table_sh_file)
    if(TARGET ${h})
      add_dependencies(zel_player_helpers ${h})
    endif()
  endforeach()
endfunction()
