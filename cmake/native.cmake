# The native Linux build: the monitor over the Win32 stand-ins, with tests, the simulator,
# benchmarks and fuzzers.

option(LANGMON_TOOLS "langmon-sim and langmon-report, and their tests" ON)
option(LANGMON_BENCHMARKS "the benchmarks (Google Benchmark)" ON)

find_package(Threads REQUIRED)
if(CMAKE_CROSSCOMPILING)
  # GoogleTest for the target, built here from the sources of Debian's googletest package.
  set(LANGMON_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${LANGMON_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL
                   SYSTEM)  # which names its targets GTest::gtest, GTest::gmock, ...
else()
  find_package(GTest REQUIRED)
endif()

# The stand-ins behind platform/win32.h, and the native string table.
file(GLOB LANGMON_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/*.cpp)
add_library(langmon_platform STATIC ${LANGMON_PLATFORM_SOURCES}
  ${CMAKE_SOURCE_DIR}/resources/string_table.cpp)
target_include_directories(langmon_platform PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(langmon_platform PRIVATE ${LANGMON_WARNINGS})
target_link_libraries(langmon_platform PUBLIC Threads::Threads)

add_library(langmon_monitor STATIC ${LANGMON_MONITOR_SOURCES})
target_include_directories(langmon_monitor PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(langmon_monitor PRIVATE ${LANGMON_WARNINGS})
target_link_libraries(langmon_monitor PUBLIC langmon_platform)

# The simulated printer and spooler pieces that tests and langmon-sim drive the monitor with.
file(GLOB LANGMON_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
if(LANGMON_SIM_SOURCES)
  add_library(langmon_sim STATIC ${LANGMON_SIM_SOURCES})
  target_include_directories(langmon_sim PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(langmon_sim PRIVATE ${LANGMON_WARNINGS})
  target_link_libraries(langmon_sim PUBLIC langmon_monitor)
endif()

include(GoogleTest)

# The test programs share one precompiled header: GoogleTest, GoogleMock and the standard headers
# that the tests include make up most of a test file's compile time. It is built once, by a small
# target of its own compiled as the tests are, and reused by every test program; each program is
# then compiled as a few unity sources (its files in batches), which parse those headers once.
option(LANGMON_TEST_PCH "share a precompiled header among the test programs" ON)
# In an optimised build the tests themselves are built without optimisation: they are built for
# their checks, and the code they check is built as it ships.
set(LANGMON_TEST_COMPILE_OPTIONS ${LANGMON_WARNINGS} $<$<CONFIG:Release>:-O0>)
if(LANGMON_TEST_PCH)
  add_library(langmon_test_pch OBJECT ${CMAKE_SOURCE_DIR}/tests/support/precompiled.cpp)
  target_compile_options(langmon_test_pch PRIVATE ${LANGMON_TEST_COMPILE_OPTIONS})
  target_include_directories(langmon_test_pch PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(langmon_test_pch PRIVATE GTest::gtest GTest::gmock)
  target_precompile_headers(langmon_test_pch PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/precompiled.h)
endif()
function(langmon_use_test_pch target)
  if(LANGMON_TEST_PCH)
    target_precompile_headers(${target} REUSE_FROM langmon_test_pch)
  endif()
endfunction()

# ThreadSanitizer has something to say only where a test starts threads of its own: nothing in
# the monitor, the stand-ins or the simulated printer starts one. LANGMON_THREADED_TESTS_ONLY (the
# native-tsan preset) builds only the test programs whose sources do; the other builds run every
# test.
option(LANGMON_THREADED_TESTS_ONLY "only the test programs that start threads of their own" OFF)

# One test program per folder below tests/unit and for tests/scenario; each links the monitor,
# the stand-ins and the simulated printer.
function(langmon_add_test_program name)
  file(GLOB sources CONFIGURE_DEPENDS ${ARGN})
  if(NOT sources)
    return()
  endif()
  if(LANGMON_THREADED_TESTS_ONLY)
    set(starts_threads FALSE)
    foreach(source ${sources})
      file(STRINGS ${source} lines REGEX "std::(j?thread|async)[^a-z_]")
      if(lines)
        set(starts_threads TRUE)
      endif()
    endforeach()
    if(NOT starts_threads)
      return()
    endif()
  endif()
  add_executable(${name} ${sources})
  target_compile_options(${name} PRIVATE ${LANGMON_TEST_COMPILE_OPTIONS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE langmon_monitor GTest::gtest GTest::gmock GTest::gtest_main)
  langmon_use_test_pch(${name})
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON)
  if(TARGET langmon_sim)
    target_link_libraries(${name} PRIVATE langmon_sim)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

file(GLOB LANGMON_UNIT_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*)
foreach(dir ${LANGMON_UNIT_DIRS})
  if(IS_DIRECTORY ${dir})
    get_filename_component(subsystem ${dir} NAME)
    if(NOT LANGMON_TOOLS AND subsystem MATCHES "^langmon_")
      continue()  # the tools' own tests
    endif()
    langmon_add_test_program(unit_${subsystem} ${dir}/*.cpp)
  endif()
endforeach()
langmon_add_test_program(scenario_tests ${CMAKE_SOURCE_DIR}/tests/scenario/*.cpp)

# Shared helpers of the test programs (fixtures, builders), header-only under tests/support.

if(LANGMON_TOOLS AND EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
# The CUPS backend's tests, where the backend is built.
if(TARGET langmon-cups)
  add_subdirectory(tests/cups)
endif()
if(LANGMON_BENCHMARKS AND EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
# libFuzzer targets, in the fuzz preset only (clang); replayed as tests where asked.
option(LANGMON_FUZZ_REPLAY "the fuzz targets replay their saved inputs as tests" OFF)
if(LANGMON_FUZZ OR LANGMON_FUZZ_REPLAY)
  add_subdirectory(fuzz)
endif()
