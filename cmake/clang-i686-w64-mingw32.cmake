# Cross build of languagemonitor.dll and its test programs for 32-bit Windows (the spooler's own
# architecture for this monitor) with clang-16 and lld-16 (cmake/clang-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LANGMON_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
