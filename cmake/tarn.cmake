# Helpers shared by every folder.

# tarn_add_gtest(NAME SOURCES a.cpp b.cpp LIBS x y [LABELS l] [TIMEOUT s])
# A GoogleTest binary registered as one ctest test labelled "unit" (or LABELS).
function(tarn_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(TARN_SANITIZE)
    # Whole sanitizer reports and no hang when a thread faults during exit.
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common/san_exit.cpp)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    TARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TARN_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()

# tarn_threaded_tests(NAME...): tests that start threads of the libraries
# (label "threads"): scripts/stress runs them many times at once under the
# sanitizers. Call it in the folder that adds the tests.
function(tarn_threaded_tests)
  set_property(TEST ${ARGN} APPEND PROPERTY LABELS threads)
endfunction()

# tarn_add_fuzzer(NAME SOURCES f.cpp LIBS x y)
# A libFuzzer target, built only with TARN_FUZZ, run for TARN_FUZZ_SECONDS under ctest.
function(tarn_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARN_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS} Threads::Threads)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name}
    COMMAND ${name} -max_total_time=${TARN_FUZZ_SECONDS} -rss_limit_mb=2048 -timeout=10 ${corpus})
  math(EXPR _to "${TARN_FUZZ_SECONDS} * 3 + 60")
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT ${_to})
endfunction()

# tarn_add_bench(NAME SOURCES b.cpp LIBS x y): a Google Benchmark binary (not a test).
function(tarn_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()
