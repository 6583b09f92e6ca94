# 64-bit Windows programs with mingw-w64 GCC. ConfigTool is a 32-bit program, and a build with this
# toolchain stops at configure time with the reason: the guard test proves that it does.
set(mingw_target x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
