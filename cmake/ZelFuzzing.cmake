# libFuzzer targets, built only in a clang build configured with -DZEL_FUZZ=ON
# (see scripts/fuzz.sh).
#
#   zel_fuzz_target(NAME SOURCES... [LIBS libs...])
#       executable NAME_fuzz from the folder's fuzz/ sources; its seed corpus is
#       fuzz/corpus/NAME/ in the same folder.

if(ZEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZEL_FUZZ needs clang (CXX=clang++)")
  endif()
  # Coverage feedback and sanitizers on all code the targets link, not just the
  # harness itself.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                      -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()

function(zel_fuzz_target name)
  if(NOT ZEL_FUZZ)
    return()
  endif()
  cmake_parse_arguments(FT "" "" "LIBS" ${ARGN})
  add_executable(${name}_fuzz ${FT_UNPARSED_ARGUMENTS})
  target_link_libraries(${name}_fuzz PRIVATE ${FT_LIBS} zel_testsupport zel_warnings)
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name}_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzzers)
endfunction()
