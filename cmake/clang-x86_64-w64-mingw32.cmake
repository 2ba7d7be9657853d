# Cross build of languagemonitor.dll and its test programs for 64-bit Windows with
# clang-16 and lld-16 (cmake/clang-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(LANGMON_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
