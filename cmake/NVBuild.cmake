# Project-wide compile settings and helpers for tests, benchmarks and fuzz targets.

add_compile_options(-Wall -Wextra)
if(NV_WERROR)
  add_compile_options(-Werror)
endif()

if(NV_SANITIZE)
  string(REPLACE ";" "," _nv_san "${NV_SANITIZE}")
  add_compile_options(-fsanitize=${_nv_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_nv_san})
endif()

# Runs every test binary with the sanitizer options of this configuration.
set(NV_TEST_ENV
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
  "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1"
  "QT_QPA_PLATFORM=offscreen")

# nv_add_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [OWN_MAIN])
# One GoogleTest binary; its cases are discovered when ctest runs, with the test environment.
# OWN_MAIN: the sources bring their own main() (Qt tests that need an application object).
# Label "threads" marks the tests that the ThreadSanitizer configuration runs.
function(nv_add_gtest name)
  cmake_parse_arguments(T "OWN_MAIN" "" "SOURCES;LIBS;LABELS" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  if(NOT T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  # The test environment reaches both the discovery run and every test through a launcher:
  # a list-valued ENVIRONMENT does not survive gtest_discover_tests' PROPERTIES.
  set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${NV_TEST_ENV})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 30
    PROPERTIES LABELS "${T_LABELS}")
endfunction()

# nv_add_subdirs(): adds every child folder that has a CMakeLists.txt.
macro(nv_add_subdirs)
  file(GLOB _nv_children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(_c IN LISTS _nv_children)
    if(IS_DIRECTORY ${_c} AND EXISTS ${_c}/CMakeLists.txt)
      add_subdirectory(${_c})
    endif()
  endforeach()
endmacro()

# The fuzz configuration: clang, libFuzzer, ASan and UBSan over every library it links.
if(NV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "NV_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzzers.txt "")
endif()

# nv_add_fuzzer(<name> SOURCES <files...> LIBS <targets...> CORPUS <dir>)
# A libFuzzer target; scripts/test.sh runs it for a bounded time from its seed corpus.
function(nv_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
  file(APPEND ${CMAKE_BINARY_DIR}/fuzzers.txt "${CMAKE_BINARY_DIR}/fuzzers/${name} ${F_CORPUS}\n")
endfunction()

# nv_add_benchmark(<name> SOURCES <files...> LIBS <targets...>)
function(nv_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
