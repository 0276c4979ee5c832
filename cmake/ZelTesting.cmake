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
# PROFILES: where the same test runs again, each registered by its folder under
# tests/ from what is recorded here:
#   kernel26             under the old kernel's profile (zelplayer --kernel 2.6, or
#                        zel-kernel in the private root), as kernel26.<name>
#   mipsel[=SHORT]       on the player's MIPS uClibc build, as mipsel.<SHORT>
#                        (default: the name after its folder's prefix)
#   board[=CHIP,...]     on the virtual board, once per flash chip (default nor)

set(ZEL_PLAYER ${PROJECT_SOURCE_DIR}/player/zelplayer)

# zel_test_profiles(NAME PROFILE...): records the profiles of test NAME.
function(zel_test_profiles name)
  foreach(p IN LISTS ARGN)
    string(REPLACE "=" ";" p "${p}")
    list(POP_FRONT p profile)
    if(NOT profile MATCHES "^(kernel26|mipsel|board)$")
      message(FATAL_ERROR "${name}: profile ${profile} is none of kernel26, mipsel, board")
    endif()
    string(REPLACE "," ";" p "${p}")
    set_property(GLOBAL APPEND PROPERTY ZEL_PROFILE_${profile} ${name})
    set_property(GLOBAL PROPERTY ZEL_PROFILE_${profile}_${name} ${p})
  endforeach()
endfunction()

function(zel_player_test)
  cmake_parse_arguments(PT "" "NAME;TIMEOUT" "PLAYER_ARGS;COMMAND;LABELS;PROFILES" ${ARGN})
  if(NOT PT_TIMEOUT)
    set(PT_TIMEOUT 300)
  endif()
  add_test(NAME ${PT_NAME}
    COMMAND ${ZEL_PLAYER} --build ${PROJECT_BINARY_DIR}
            --bind ${PROJECT_BINARY_DIR} --bind ${PROJECT_SOURCE_DIR}
            ${PT_PLAYER_ARGS} -- ${PT_COMMAND})
  set_tests_properties(${PT_NAME} PROPERTIES
    LABELS "player;${PT_LABELS}"
    FIXTURES_REQUIRED zel_rootfs
    TIMEOUT ${PT_TIMEOUT}
    RESOURCE_LOCK zel_player_cpu)
  # Kept for runs of the same test in its profiles (tests/kernel26, mipsel, board).
  set_property(GLOBAL PROPERTY ZEL_TEST_${PT_NAME} PLAYER ${PT_TIMEOUT} PLAYER_ARGS ${PT_PLAYER_ARGS} COMMAND ${PT_COMMAND})
  zel_test_profiles(${PT_NAME} ${PT_PROFILES})
endfunction()

function(zel_launcher_test)
  cmake_parse_arguments(LT "" "NAME;TIMEOUT" "COMMAND;PROFILES" ${ARGN})
  if(NOT LT_TIMEOUT)
    set(LT_TIMEOUT 300)
  endif()
  list(TRANSFORM LT_COMMAND REPLACE "^PLAYER$" "${ZEL_PLAYER}" OUTPUT_VARIABLE command)
  add_test(NAME ${LT_NAME} COMMAND ${command})
  set_tests_properties(${LT_NAME} PROPERTIES
    LABELS player FIXTURES_REQUIRED zel_rootfs TIMEOUT ${LT_TIMEOUT} RESOURCE_LOCK zel_player_cpu)
  set_property(GLOBAL PROPERTY ZEL_TEST_${LT_NAME} LAUNCHER ${LT_TIMEOUT} COMMAND ${LT_COMMAND})
  zel_test_profiles(${LT_NAME} ${LT_PROFILES})
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
    zel_player_test(NAME ${GT_NAME} ${timeout_arg} LABELS ${GT_LABELS} PROFILES ${GT_PROFILES}
      PLAYER_ARGS ${GT_PLAYER_ARGS} COMMAND $<TARGET_FILE:${target}>)
    return()
  endif()

  if(GT_RUN STREQUAL "host")
    add_test(NAME ${GT_NAME} COMMAND ${target})
    set(labels unit)
  elseif(GT_RUN STREQUAL "ipc")
    # unshare runs first, then the emulator of a cross build.
    add_test(NAME ${GT_NAME} COMMAND unshare --ipc ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${target}>)
    set(labels unit)
  elseif(GT_RUN STREQUAL "private_root")
    add_test(NAME ${GT_NAME}
      COMMAND sh ${PROJECT_SOURCE_DIR}/testsupport/private_root.sh $<TARGET_FILE:${target}>)
    set(labels store)
    set_property(GLOBAL PROPERTY ZEL_TEST_${GT_NAME} PRIVATE_ROOT ${target})
    zel_test_profiles(${GT_NAME} ${GT_PROFILES})
  else()
    message(FATAL_ERROR "zel_gtest(${target}): RUN ${GT_RUN} is none of host, ipc, private_root, player")
  endif()
  if(NOT GT_TIMEOUT)
    set(GT_TIMEOUT 120)
  endif()
  set_tests_properties(${GT_NAME} PROPERTIES LABELS "${labels};${GT_LABELS}" TIMEOUT ${GT_TIMEOUT})
endfunction()
