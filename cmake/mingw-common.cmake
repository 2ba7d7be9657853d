# Shared part of the two mingw-w64 toolchain files; LANGMON_MINGW_TRIPLE names the target.
#
# The posix thread model gives the test host the whole C++ thread library (GoogleTest needs
# std::mutex). The monitor itself synchronises with Win32 critical sections and events; whatever
# it might pull in from libwinpthread is linked statically.
set(CMAKE_C_COMPILER ${LANGMON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LANGMON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LANGMON_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LANGMON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine; its launcher starts 32- and 64-bit programs alike.
find_program(LANGMON_WINE NAMES wine)
if(LANGMON_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LANGMON_WINE})
endif()
