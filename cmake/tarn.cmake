# Helpers shared by every folder.

# Which tests a tree builds and registers: the unit tests (label "unit") and
# the whole-daemon tests (label "e2e"). A plain configure takes both;
# scripts/test builds the unit tests only in the sanitizer tree and the
# whole-daemon tests only in the product tree, so that each is built once.
# A test left out keeps its target (excluded from "all"), so that the
# folders' add_dependencies and target_* calls need no guard.
option(TARN_UNIT_TESTS "Build and register the unit tests (label unit)" ON)
option(TARN_E2E_TESTS "Build and register the whole-daemon tests (label e2e)" ON)

# tarn_test_wanted(OUT LABELS): TRUE when a test with these labels belongs
# to this tree (a test labelled "unit;e2e" belongs to either).
function(tarn_test_wanted out labels)
  set(w FALSE)
  if(("unit" IN_LIST labels AND TARN_UNIT_TESTS) OR ("e2e" IN_LIST labels AND TARN_E2E_TESTS))
    set(w TRUE)
  elseif(NOT "unit" IN_LIST labels AND NOT "e2e" IN_LIST labels)
    set(w TRUE)
  endif()
  set(${out} ${w} PARENT_SCOPE)
endfunction()

# tarn_test_helper(LABEL TARGET...): programs that only tests of LABEL run;
# built with "all" only when this tree has those tests.
function(tarn_test_helper label)
  tarn_test_wanted(w "${label}")
  if(NOT w)
    set_target_properties(${ARGN} PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
endfunction()

# Test code drives the daemon and its far ends; optimising it buys nothing
# at run time and doubles the time to compile a test file. Line tables stay
# for backtraces; the sanitizers stay. The product's libraries keep the
# tree's flags.
function(tarn_test_code_flags name)
  if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Release)$")
    target_compile_options(${name} PRIVATE -O0 -g1)
  else()
    target_compile_options(${name} PRIVATE -gline-tables-only)
  endif()
  set_target_properties(${name} PROPERTIES TARN_TEST_CODE TRUE)
endfunction()

# tarn_test_folder_flags(DIR): the test code flags for every program and
# library of a test folder (and the folders below) that has none yet: the
# helpers, harnesses and stand-ins the tests share. Fuzz targets keep the
# tree's flags.
function(tarn_test_folder_flags dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    get_target_property(done ${t} TARN_TEST_CODE)
    get_target_property(fuzz ${t} TARN_FUZZ_TARGET)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY|SHARED_LIBRARY)$" AND NOT done AND NOT fuzz)
      tarn_test_code_flags(${t})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(d ${subdirs})
    tarn_test_folder_flags(${d})
  endforeach()
endfunction()

# Flags every GoogleTest program of the tree is compiled with.
function(tarn_gtest_flags name)
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    TARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TARN_BINARY_DIR="${CMAKE_BINARY_DIR}")
  tarn_test_code_flags(${name})
  if(TARN_FUZZ)
    target_compile_options(${name} PRIVATE -fno-sanitize=fuzzer-no-link)
  endif()
endfunction()

# The test files share one precompiled header of GoogleTest and the standard
# library, made once a tree: parsing them took longer than most test files'
# own code. Only system headers go in, so every file still names what it uses.
if(NOT TARGET tarn_test_pch)
  file(WRITE ${CMAKE_BINARY_DIR}/tarn_test_pch.cpp "")
  add_library(tarn_test_pch OBJECT EXCLUDE_FROM_ALL ${CMAKE_BINARY_DIR}/tarn_test_pch.cpp)
  tarn_gtest_flags(tarn_test_pch)
  target_precompile_headers(tarn_test_pch PRIVATE
    <gtest/gtest.h> <algorithm> <atomic> <chrono> <cstdio> <cstdlib> <cstring>
    <filesystem> <fstream> <functional> <map> <memory> <mutex> <sstream> <string>
    <thread> <vector> <unistd.h>)
endif()

# tarn_add_gtest(NAME SOURCES a.cpp b.cpp LIBS x y [LABELS l] [TIMEOUT s]
#                [UNINSTRUMENTED Suite.Case:...] [EACH_CASE] [COST s]
#                [CASE_COST Suite.Case=s ...])
# A GoogleTest binary registered as one ctest test labelled "unit" (or LABELS).
# UNINSTRUMENTED names the cases that cannot run under the sanitizers: a
# product tree without unit tests still builds the binary and runs those.
# EACH_CASE registers every case as a ctest test of its own, "NAME.Suite.Case"
# (listed by the binary once it is built), so that ctest -j runs the cases of
# a long binary side by side; TIMEOUT is then each case's (one label only).
# COST: about how many seconds the test (each case) takes, so that a run
# without ctest's figures of an earlier run starts the long ones first.
# CASE_COST (with EACH_CASE) gives single cases a COST of their own: the
# cases that wait out a long timer, whose start decides when the run ends.
function(tarn_add_gtest name)
  cmake_parse_arguments(T "EACH_CASE" "TIMEOUT;UNINSTRUMENTED;COST" "SOURCES;LIBS;LABELS;CASE_COST" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  tarn_test_wanted(wanted "${T_LABELS}")
  set(filter "")
  if(NOT wanted AND T_UNINSTRUMENTED AND NOT TARN_SANITIZE AND NOT TARN_SANITIZE_THREAD)
    set(wanted TRUE)
    set(filter --gtest_filter=${T_UNINSTRUMENTED})
  endif()
  if(wanted)
    add_executable(${name} ${T_SOURCES})
  else()
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
  endif()
  if(TARN_SANITIZE)
    # Whole sanitizer reports and no hang when a thread faults during exit.
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common/san_exit.cpp)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  tarn_gtest_flags(${name})
  target_precompile_headers(${name} REUSE_FROM tarn_test_pch)
  if(NOT wanted)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_COST)
    set(T_COST 0)
  endif()
  if(T_EACH_CASE)
    include(GoogleTest)
    gtest_discover_tests(${name} TEST_PREFIX ${name}. DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS ${T_LABELS} TIMEOUT ${T_TIMEOUT} COST ${T_COST})
    if(T_CASE_COST)
      # The cases are known only once the binary is built: their costs go in
      # a file ctest reads after the list of cases.
      set(lines "")
      foreach(c ${T_CASE_COST})
        string(REPLACE "=" ";" c "${c}")
        list(GET c 0 case)
        list(GET c 1 secs)
        string(APPEND lines "set_tests_properties(\"${name}.${case}\" PROPERTIES COST ${secs})\n")
        # A value-parameterised case is listed with its value after it.
        if(case MATCHES "/([^/]+)$")
          string(APPEND lines "set_tests_properties(\"${name}.${case}  # GetParam() = ${CMAKE_MATCH_1}\" PROPERTIES COST ${secs})\n")
        endif()
      endforeach()
      file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_case_costs.cmake "${lines}")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
        ${CMAKE_CURRENT_BINARY_DIR}/${name}_case_costs.cmake)
    endif()
    return()
  endif()
  add_test(NAME ${name} COMMAND ${name} ${filter})
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} COST ${T_COST})
endfunction()

# tarn_threaded_tests(NAME...): tests that start threads of the libraries
# (label "threads"): scripts/stress runs them many times at once under the
# sanitizers. Call it in the folder that adds the tests.
function(tarn_threaded_tests)
  foreach(t ${ARGN})
    if(TEST ${t})
      set_property(TEST ${t} APPEND PROPERTY LABELS threads)
    endif()
  endforeach()
endfunction()

# tarn_add_fuzzer(NAME SOURCES f.cpp LIBS x y)
# A libFuzzer target, built only with TARN_FUZZ, run for TARN_FUZZ_SECONDS under ctest.
function(tarn_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARN_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  set_target_properties(${name} PROPERTIES TARN_FUZZ_TARGET TRUE)
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

# tarn_test_properties(NAME... PROPERTIES p v...): set_tests_properties for
# those of the tests that this tree registers (one value a property).
function(tarn_test_properties)
  cmake_parse_arguments(P "" "" "PROPERTIES" ${ARGN})
  foreach(t ${P_UNPARSED_ARGUMENTS})
    if(TEST ${t})
      set_tests_properties(${t} PROPERTIES ${P_PROPERTIES})
    endif()
  endforeach()
endfunction()
