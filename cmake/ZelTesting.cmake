# Test helpers shared by every folder.
#
#   zel_unit_test(TARGET)          a GoogleTest program that runs on the build host
#                                  (and, cross-built, under the target's emulator)
#   zel_player_test(NAME name [PLAYER_ARGS ...] COMMAND cmd ...)
#                                  a command run inside a fresh simulated player

set(ZEL_PLAYER ${PROJECT_SOURCE_DIR}/player/zelplayer)

function(zel_unit_test target)
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main zel_warnings)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES LABELS unit)
endfunction()

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
endfunction()
