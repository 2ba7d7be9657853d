# Cross build of languagemonitor.dll and its test programs for Windows on ARM with clang-16 and
# lld-16 (cmake/clang-mingw.cmake); the tests run under Debian 13's arm64 Wine
# (tests/wine/wine-arm64.sh).
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(LANGMON_MINGW_TRIPLE aarch64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
