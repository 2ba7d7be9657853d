# Conformance: the stand-ins' own tests (tests/unit/platform/) built as a Windows program and run
# under Wine, against its kernel32, advapi32 and user32, so that the stand-ins are checked
# against an implementation nobody here wrote. Included by tests/wine/CMakeLists.txt once the
# Wine prefix is set up.
#
# Test files named *_host_test.cpp use the stand-ins' control panel (platform/host.h: armed
# failures, records, sessions, the virtual clock...), which Windows has no counterpart for: they
# run natively only. Every other file there runs on both.
file(GLOB LANGMON_CONFORMANCE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/unit/platform/*.cpp)
list(FILTER LANGMON_CONFORMANCE_SOURCES EXCLUDE REGEX "_host_test\\.cpp$")

# With the monitor's resources, which the tests of LoadStringW read from this program.
add_executable(platform_conformance ${LANGMON_CONFORMANCE_SOURCES}
  ${CMAKE_SOURCE_DIR}/resources/languagemonitor.rc)
target_include_directories(platform_conformance PRIVATE ${CMAKE_SOURCE_DIR}
  ${LANGMON_GENERATED_DIR})
target_compile_options(platform_conformance PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${LANGMON_WARNINGS}>)
target_link_options(platform_conformance PRIVATE -static)
target_link_libraries(platform_conformance PRIVATE gtest gtest_main kernel32 user32 advapi32)
langmon_quick_test_build(platform_conformance)

# Wine's own DLLs only: no stand-in spoolss.dll here.
add_test(NAME conformance COMMAND platform_conformance)
set_tests_properties(conformance PROPERTIES FIXTURES_REQUIRED wine_prefix
  LABELS conformance
  ENVIRONMENT "${LANGMON_WINE_OWN_ENVIRONMENT}")
