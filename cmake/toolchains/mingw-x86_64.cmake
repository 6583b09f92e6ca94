# 64-bit Windows programs with mingw-w64 GCC, run under 64-bit Wine, which also runs where the
# machine runs no 32-bit programs. Only for the windows-x64 test build (CONFIGTOOL_X64_TEST_BUILD):
# ConfigTool itself ships as a 32-bit program.
set(mingw_target x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# /usr/bin/wine would take the 32-bit loader whenever it is installed.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
