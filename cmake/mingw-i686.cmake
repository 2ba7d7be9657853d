# Cross build for 32-bit Windows (the spooler's own architecture for this monitor) with mingw-w64.
# Programs built here run under Wine, so add_test() of a target works as on Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LANGMON_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
