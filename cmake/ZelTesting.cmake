# Test helpers shared by every folder.
#
#   zel_gtest(TARGET SOURCES src... [LIBS lib...] [DEFINITIONS def...]
#             [RUN host|ipc|private_root|player] [NAME test] [PLAYER_ARGS ...]
#             [TIMEOUT seconds] [LABELS ...])
#       builds a GoogleTest program and registers it. RUN says where it runs:
#       host          on the build host (and, cross-built, under the target's emulator)
#       ipc           the same in a private IPC namespace (fixed System V keys)
#       private_root  with a /tmp and a /dev of its own (fixed paths of the store)
#       player        inside a fresh simulated player
#   zel_player_test(NAME name [PLAYER_ARGS ...] [TIMEOUT s] [LABELS ...] COMMAND cmd ...)
#       a command run inside a fresh simulated player

set(ZEL_PLAYER ${PROJECT_SOURCE_DIR}/player/zelplayer)

function(zel_player_test)
  cmake_parse_arguments(PT "" "NAME;TIMEOUT" "PLAYER_ARGS;COMMAND;LABELS" ${ARGN})
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
  # Kept for runs of the same test in other setups (tests/kernel26).
  set_property(GLOBAL PROPERTY ZEL_TEST_${PT_NAME} PLAYER ${PT_TIMEOUT} PLAYER_ARGS ${PT_PLAYER_ARGS} COMMAND ${PT_COMMAND})
endfunction()

function(zel_gtest target)
  cmake_parse_arguments(GT "" "NAME;RUN;TIMEOUT" "SOURCES;LIBS;DEFINITIONS;PLAYER_ARGS;LABELS" ${ARGN})
  if(NOT GT_NAME)
    set(GT_NAME ${target})
  endif()
  if(NOT GT_RUN)
    set(GT_RUN host)
  endif()
  add_executable(${target} ${GT_SOURCES})
  target_link_libraries(${target} PRIVATE ${GT_LIBS} GTest::gtest GTest::gtest_main zel_warnings)
  if(GT_DEFINITIONS)
    target_compile_definitions(${target} PRIVATE ${GT_DEFINITIONS})
  endif()

  if(GT_RUN STREQUAL "player")
    set(timeout_arg)
    if(GT_TIMEOUT)
      set(timeout_arg TIMEOUT ${GT_TIMEOUT})
    endif()
    zel_player_test(NAME ${GT_NAME} ${timeout_arg} LABELS ${GT_LABELS}
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
      COMMAND sh ${PROJECT_SOURCE_DIR}/zelmsg/tests/private_root.sh $<TARGET_FILE:${target}>)
    set(labels store)
    set_property(GLOBAL PROPERTY ZEL_TEST_${GT_NAME} PRIVATE_ROOT ${target})
  else()
    message(FATAL_ERROR "zel_gtest(${target}): RUN ${GT_RUN} is none of host, ipc, private_root, player")
  endif()
  if(NOT GT_TIMEOUT)
    set(GT_TIMEOUT 120)
  endif()
  set_tests_properties(${GT_NAME} PROPERTIES LABELS "${labels};${GT_LABELS}" TIMEOUT ${GT_TIMEOUT})
endfunction()
