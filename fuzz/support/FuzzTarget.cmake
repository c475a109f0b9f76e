# z3az_fuzz_target(NAME SOURCE [libraries...]): a libFuzzer program
# fuzz_NAME. The whole project is compiled with coverage instrumentation and
# the sanitizers when Z3AZ_FUZZ is on (top CMakeLists.txt); the targets add
# libFuzzer's main. Needs clang.
include_guard(GLOBAL)

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(WARNING "fuzz targets need clang (configure with CC=clang CXX=clang++); skipped")
endif()

function(z3az_fuzz_target name source)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  add_executable(fuzz_${name} ${source})
  target_include_directories(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/support ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(fuzz_${name} PRIVATE z3az z3az_platform ${ARGN})
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endfunction()
