# Test helpers shared by every folder.
#
#   zel_gtest(TARGET SOURCES src... [LIBS lib...] [DEFINITIONS def...]
#             [RUN host|ipc|private_root|player] [NAME test] [PLAYER_ARGS ...]
#             [TIMEOUT seconds] [LABELS ...] [PROFILES ...])
#       builds a GoogleTest program and registers it. RUN says where it runs:
#       host          on the build host (and, cross-built, under the target's emulator)
#       ipc           the same in a private IPC namespace (fixed System V keys)
#       private_root  with a /tmp and a /dev of its own (fixed paths of the store)
#       player        inside a fresh simulated player
#   zel_player_test(NAME name [PLAYER_ARGS ...] [TIMEOUT s] [LABELS ...] [PROFILES ...]
#                   COMMAND cmd ...)
#       a command run inside a fresh simulated player
#   zel_launcher_test(NAME name [TIMEOUT s] [PROFILES ...] COMMAND cmd ... PLAYER ...)
#       a script that starts players itself: the word PLAYER in its command stands
#       for the launcher (zelplayer here, the MIPS player or the board in a profile)
#
# PROFILES: where the same test runs again, each run made by zel_profile_runs (called
# from its folder under tests/) from the record the registration leaves:
#   kernel26             under the old kernel's profile (zelplayer --kernel 2.6, or
#                        zel-kernel in the private root), as kernel26.<name>
#   mipsel[=SHORT]       on the player's MIPS uClibc build, as mipsel.<SHORT>
#                        (default: the name after its folder's prefix)
#   board[=CHIP,...]     on the virtual board, once per flash chip (default nor)
# A profile the suite cannot run under stops the configure: the MIPS player and the
# board run MIPS programs, so a program built for the host (a GoogleTest program, a
# private-root test, a command naming a target) has no run there; a launcher starts
# its players itself, with no old kernel's profile; a host test runs nowhere else.

set(ZEL_PLAYER ${PROJECT_SOURCE_DIR}/player/zelplayer)

# The chips the board takes: the first word of each line of its table, the first
# line the default.
set(zel_board_chips_file ${CMAKE_CURRENT_LIST_DIR}/../player/board/chips)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zel_board_chips_file})
file(READ ${zel_board_chips_file} zel_chips_text)
string(REGEX MATCHALL "(^|\n)[a-z0-9-]+" ZEL_BOARD_CHIPS "${zel_chips_text}")
list(TRANSFORM ZEL_BOARD_CHIPS STRIP)
if(NOT ZEL_BOARD_CHIPS)
  message(FATAL_ERROR "${zel_board_chips_file}: no line names a chip")
endif()

# zel_record(NAME KIND host|private_root|gtest|player|launcher [TIMEOUT s] [TARGET t]
#            [PLAYER_ARGS ...] [COMMAND ...] [PROFILES ...]): checks the profiles
# against the kind and keeps the record as the global property ZEL_TEST_<NAME>.
function(zel_record name)
  cmake_parse_arguments(R "" "KIND;TIMEOUT;TARGET" "PLAYER_ARGS;COMMAND;PROFILES" ${ARGN})
  if(NOT R_KIND MATCHES "^(host|private_root|gtest|player|launcher)$")
    message(FATAL_ERROR "${name}: kind ${R_KIND} is none of host, private_root, gtest, player, launcher")
  endif()
  set(allowed kernel26 mipsel board)
  set(why "")
  if(R_KIND STREQUAL "host")
    set(allowed "")
    set(why "a host test runs on the build host only")
  elseif(R_KIND STREQUAL "private_root")
    set(allowed kernel26)
    set(why "a private-root test runs a program built for the host")
  elseif(R_KIND STREQUAL "gtest")
    set(allowed kernel26)
    set(why "a GoogleTest program is built for the host")
  elseif(R_KIND STREQUAL "launcher")
    set(allowed mipsel board)
    set(why "a launcher starts its players itself, with no old kernel's profile")
  elseif(R_COMMAND MATCHES "\\$<TARGET_FILE:")
    set(allowed kernel26)
    set(why "its command runs a program built for the host")
  endif()
  set(record KIND ${R_KIND} TIMEOUT ${R_TIMEOUT})
  if(R_TARGET)
    list(APPEND record TARGET ${R_TARGET})
  endif()
  foreach(p IN LISTS R_PROFILES)
    string(REPLACE "=" ";" p "${p}")
    list(POP_FRONT p profile)
    if(NOT profile MATCHES "^(kernel26|mipsel|board)$")
      message(FATAL_ERROR "${name}: profile ${profile} is none of kernel26, mipsel, board")
    endif()
    if(NOT profile IN_LIST allowed)
      message(FATAL_ERROR "${name}: profile ${profile} refused: ${why}")
    endif()
    string(REPLACE "," ";" p "${p}")
    if(profile STREQUAL "mipsel" AND p)
      list(APPEND record MIPSEL_NAME ${p})
    elseif(profile STREQUAL "board")
      if(NOT p)
        list(GET ZEL_BOARD_CHIPS 0 p)
      endif()
      foreach(chip IN LISTS p)
        if(NOT chip IN_LIST ZEL_BOARD_CHIPS)
          message(FATAL_ERROR "${name}: profile board=${chip} refused: the board's chips are ${ZEL_BOARD_CHIPS}")
        endif()
      endforeach()
      list(APPEND record BOARD_CHIPS ${p})
    endif()
    set_property(GLOBAL APPEND PROPERTY ZEL_PROFILE_${profile} ${name})
  endforeach()
  list(APPEND record PLAYER_ARGS ${R_PLAYER_ARGS} COMMAND ${R_COMMAND})
  set_property(GLOBAL PROPERTY ZEL_TEST_${name} ${record})
endfunction()

# KIND (gtest) is zel_gtest's, for a GoogleTest program it runs in the player.
function(zel_player_test)
  cmake_parse_arguments(PT "" "NAME;TIMEOUT;KIND" "PLAYER_ARGS;COMMAND;LABELS;PROFILES" ${ARGN})
  if(NOT PT_TIMEOUT)
    set(PT_TIMEOUT 300)
  endif()
  if(NOT PT_KIND)
    set(PT_KIND player)
  endif()
  zel_record(${PT_NAME} KIND ${PT_KIND} TIMEOUT ${PT_TIMEOUT} PROFILES ${PT_PROFILES}
    PLAYER_ARGS ${PT_PLAYER_ARGS} COMMAND ${PT_COMMAND})
  add_test(NAME ${PT_NAME}
    COMMAND ${ZEL_PLAYER} --build ${PROJECT_BINARY_DIR}
            --bind ${PROJECT_BINARY_DIR} --bind ${PROJECT_SOURCE_DIR}
            ${PT_PLAYER_ARGS} -- ${PT_COMMAND})
  set_tests_properties(${PT_NAME} PROPERTIES
    LABELS "player;${PT_LABELS}"
    FIXTURES_REQUIRED zel_rootfs
    TIMEOUT ${PT_TIMEOUT}
    RESOURCE_LOCK zel_player_cpu)
endfunction()

function(zel_launcher_test)
  cmake_parse_arguments(LT "" "NAME;TIMEOUT" "COMMAND;PROFILES" ${ARGN})
  if(NOT LT_TIMEOUT)
    set(LT_TIMEOUT 300)
  endif()
  zel_record(${LT_NAME} KIND launcher TIMEOUT ${LT_TIMEOUT} PROFILES ${LT_PROFILES} COMMAND ${LT_COMMAND})
  list(TRANSFORM LT_COMMAND REPLACE "^PLAYER$" "${ZEL_PLAYER}" OUTPUT_VARIABLE command)
  add_test(NAME ${LT_NAME} COMMAND ${command})
  set_tests_properties(${LT_NAME} PROPERTIES
    LABELS player FIXTURES_REQUIRED zel_rootfs TIMEOUT ${LT_TIMEOUT} RESOURCE_LOCK zel_player_cpu)
endfunction()

function(zel_gtest target)
  cmake_parse_arguments(GT "" "NAME;RUN;TIMEOUT" "SOURCES;LIBS;DEFINITIONS;PLAYER_ARGS;LABELS;PROFILES" ${ARGN})
  if(NOT GT_NAME)
    set(GT_NAME ${target})
  endif()
  if(NOT GT_RUN)
    set(GT_RUN host)
  endif()
  add_executable(${target} ${GT_SOURCES})
  target_link_libraries(${target} PRIVATE ${GT_LIBS} GTest::gtest GTest::gtest_main zel_testsupport zel_warnings)
  if(GT_DEFINITIONS)
    target_compile_definitions(${target} PRIVATE ${GT_DEFINITIONS})
  endif()

  if(GT_RUN STREQUAL "player")
    set(timeout_arg)
    if(GT_TIMEOUT)
      set(timeout_arg TIMEOUT ${GT_TIMEOUT})
    endif()
    zel_player_test(NAME ${GT_NAME} KIND gtest ${timeout_arg} LABELS ${GT_LABELS} PROFILES ${GT_PROFILES}
      PLAYER_ARGS ${GT_PLAYER_ARGS} COMMAND $<TARGET_FILE:${target}>)
    return()
  endif()

  if(NOT GT_TIMEOUT)
    set(GT_TIMEOUT 120)
  endif()
  if(GT_RUN STREQUAL "host")
    zel_record(${GT_NAME} KIND host PROFILES ${GT_PROFILES})
    add_test(NAME ${GT_NAME} COMMAND ${target})
    set(labels unit)
  elseif(GT_RUN STREQUAL "ipc")
    zel_record(${GT_NAME} KIND host PROFILES ${GT_PROFILES})
    # unshare runs first, then the emulator of a cross build.
    add_test(NAME ${GT_NAME} COMMAND unshare --ipc ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${target}>)
    set(labels unit)
  elseif(GT_RUN STREQUAL "private_root")
    zel_record(${GT_NAME} KIND private_root TIMEOUT ${GT_TIMEOUT} TARGET ${target} PROFILES ${GT_PROFILES})
    add_test(NAME ${GT_NAME}
      COMMAND sh ${PROJECT_SOURCE_DIR}/testsupport/private_root.sh $<TARGET_FILE:${target}>)
    set(labels store)
  else()
    message(FATAL_ERROR "zel_gtest(${target}): RUN ${GT_RUN} is none of host, ipc, private_root, player")
  endif()
  set_tests_properties(${GT_NAME} PROPERTIES LABELS "${labels};${GT_LABELS}" TIMEOUT ${GT_TIMEOUT})
endfunction()

# zel_board_player(OUT NAME WORD...): a player of the board's plan, "player NAME"
# and a line "arg WORD" for each word. A word is a line: one with a newline stops the
# configure.
function(zel_board_player out name)
  set(lines "player ${name}\n")
  foreach(w IN LISTS ARGN)
    if(w MATCHES "\n")
      message(FATAL_ERROR "${name}: the board's plan takes a word a line, and this one holds a newline: ${w}")
    endif()
    string(APPEND lines "arg ${w}\n")
  endforeach()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# zel_profile_runs(PROFILE [PLAN VAR]): the runs under PROFILE of every suite registered
# with it, made from its record alone. Under board, a suite run in the board's players
# becomes a player of its plan per chip (appended to VAR; Bash is not on the board, its
# scripts run under BusyBox ash); launchers start the MIPS player or the board instead
# of zelplayer, each a test of its own.
function(zel_profile_runs profile)
  cmake_parse_arguments(PR "" "PLAN" "" ${ARGN})
  get_property(suites GLOBAL PROPERTY ZEL_PROFILE_${profile})
  set(lines "")
  foreach(t IN LISTS suites)
    get_property(record GLOBAL PROPERTY ZEL_TEST_${t})
    cmake_parse_arguments(R "" "KIND;TIMEOUT;TARGET;MIPSEL_NAME" "BOARD_CHIPS;PLAYER_ARGS;COMMAND" ${record})
    string(REGEX REPLACE "^[^.]*\\." "" short ${t})
    if(profile STREQUAL "kernel26" AND R_KIND STREQUAL "private_root")
      add_test(NAME kernel26.${t}
        COMMAND sh ${PROJECT_SOURCE_DIR}/testsupport/private_root.sh
                $<TARGET_FILE:zel-kernel> 2.6 $<TARGET_FILE:${R_TARGET}>)
      set_tests_properties(kernel26.${t} PROPERTIES LABELS "store;kernel26" TIMEOUT ${R_TIMEOUT}
        ENVIRONMENT ZP_KERNEL=2.6)
    elseif(profile STREQUAL "kernel26")
      zel_player_test(NAME kernel26.${t} TIMEOUT ${R_TIMEOUT} LABELS kernel26
        PLAYER_ARGS --kernel 2.6 ${R_PLAYER_ARGS} COMMAND ${R_COMMAND})
    elseif(profile STREQUAL "mipsel" AND R_KIND STREQUAL "launcher")
      if(R_MIPSEL_NAME)
        set(short ${R_MIPSEL_NAME})
      endif()
      list(TRANSFORM R_COMMAND REPLACE "^PLAYER$" "${PROJECT_SOURCE_DIR}/tests/mipsel/zelplayer-mipsel")
      add_test(NAME mipsel.${short} COMMAND ${R_COMMAND})
      set_tests_properties(mipsel.${short} PROPERTIES LABELS "player;mipsel"
        FIXTURES_REQUIRED zel_mipsel TIMEOUT ${R_TIMEOUT} RESOURCE_LOCK zel_player_cpu)
    elseif(profile STREQUAL "mipsel")
      if(R_MIPSEL_NAME)
        set(short ${R_MIPSEL_NAME})
      endif()
      # The boot script returns before its background daemon has started, and a MIPS
      # start loses the race with a suite that looks for the daemon at once.
      if("--daemon" IN_LIST R_PLAYER_ARGS)
        list(POP_FRONT R_COMMAND)
        list(PREPEND R_COMMAND /bin/sh ${PROJECT_SOURCE_DIR}/tests/mipsel/after_daemon.sh)
      endif()
      zel_player_test(NAME mipsel.${short} TIMEOUT ${R_TIMEOUT} LABELS mipsel
        PLAYER_ARGS --target mipsel ${R_PLAYER_ARGS} COMMAND ${R_COMMAND})
      set_tests_properties(mipsel.${short} PROPERTIES FIXTURES_REQUIRED zel_mipsel)
    elseif(R_KIND STREQUAL "launcher")
      list(TRANSFORM R_COMMAND REPLACE "^PLAYER$" "${PROJECT_SOURCE_DIR}/player/board/board")
      add_test(NAME board.${short} COMMAND ${R_COMMAND})
      set_tests_properties(board.${short} PROPERTIES LABELS "board"
        FIXTURES_REQUIRED zel_board TIMEOUT ${R_TIMEOUT} RESOURCE_LOCK zel_player_cpu)
    else()
      list(GET R_COMMAND 0 shell)
      if(shell MATCHES "^(/bin/)?bash$")
        list(POP_FRONT R_COMMAND)
        list(PREPEND R_COMMAND sh)
      endif()
      foreach(chip IN LISTS R_BOARD_CHIPS)
        zel_board_player(player ${t}@${chip} --chip ${chip} ${R_PLAYER_ARGS} -- ${R_COMMAND})
        string(APPEND lines "${player}")
      endforeach()
    endif()
  endforeach()
  if(PR_PLAN)
    set(${PR_PLAN} "${${PR_PLAN}}${lines}" PARENT_SCOPE)
  endif()
endfunction()
