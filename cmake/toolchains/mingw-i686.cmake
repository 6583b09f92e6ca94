# 32-bit Windows programs with mingw-w64 GCC, run under Wine. This is the build that ships.
set(mingw_target i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
