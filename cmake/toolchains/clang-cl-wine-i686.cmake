# 32-bit Windows programs with clang-cl, lld-link and llvm-rc in MSVC mode, against the Win32
# headers and import libraries of Debian's Wine (libwine-dev:i386), run under Wine.
# It proves the MSVC-style branch of the build and the code's MSVC dialect on a Linux machine.
# Its programs start through Wine's start-up code instead of Microsoft's C runtime, which is not
# here: they are for testing only and never shipped. There is no C++ library either, so the test
# programs come from the mingw-w64 build (CONFIGTOOL_TEST_PROGRAMS).
# CMake reads this file again for every check it compiles: it only describes the toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

include(${CMAKE_CURRENT_LIST_DIR}/../LlvmTools.cmake)
# A machine may lack these (tools/install-deps names what it could not install); tools/test skips
# this build when configuring stops with "not on this machine".
foreach(tool clang-cl llvm-rc lld-link llvm-lib)
  find_llvm_tool(path ${tool})
  if(NOT path)
    message(FATAL_ERROR "not on this machine: ${tool} (clang-tools, lld, llvm)")
  endif()
  string(REPLACE "-" "_" name ${tool})
  set(${name} ${path})
endforeach()
set(CMAKE_C_COMPILER ${clang_cl})
set(CMAKE_CXX_COMPILER ${clang_cl})
set(CMAKE_RC_COMPILER ${llvm_rc})
set(CMAKE_LINKER ${lld_link})
set(CMAKE_AR ${llvm_lib})

set(wine_include /usr/include/wine/wine)
set(wine_lib /usr/lib/i386-linux-gnu/wine/i386-windows)
if(NOT EXISTS ${wine_include}/windows/windows.h OR NOT EXISTS ${wine_lib}/libkernel32.a)
  message(FATAL_ERROR "not on this machine: Wine's Win32 headers and import libraries (libwine-dev:i386)")
endif()

# Wine's headers are the system headers (-imsvc). /Zl and /GS-: no Microsoft runtime to name or
# to hold the stack cookie; _MSVCR_VER=0 asks the headers for msvcrt.dll, not the UCRT.
set(flags "--target=i686-pc-windows-msvc -imsvc ${wine_include}/msvcrt -imsvc ${wine_include}/windows /X /Zl /GS- -D_MSVCR_VER=0")
# Wine 8's winnt.h defines the 64-bit and pointer Interlocked helpers inline on i386 under the
# names that clang keeps for its builtins; Wine 10's asks __has_builtin first. Where the headers
# do not ask, theirs are renamed out of the way.
file(STRINGS ${wine_include}/windows/winnt.h asks REGEX "__has_builtin\\(_InterlockedAnd64\\)")
if(NOT asks)
  foreach(helper _InterlockedAnd64 _InterlockedOr64 _InterlockedXor64 _InterlockedExchangeAdd64
                 _InterlockedIncrement64 _InterlockedDecrement64
                 _InterlockedCompareExchangePointer _InterlockedExchangePointer)
    string(APPEND flags " -D${helper}=wine${helper}")
  endforeach()
endif()
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_RC_FLAGS_INIT "-I${wine_include}/windows")

# Wine ships its import libraries as libNAME.a, and lld-link looks for NAME.lib: the project links
# them under those names (CONFIGTOOL_WINE_IMPORT_LIBS). Until then nothing can be linked, so the
# compiler checks only compile.
set(CONFIGTOOL_WINE_IMPORT_LIBS ${wine_lib})
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# Wine's import members are not SEH-safe; its msvcrt start-up calls main, whose main calls WinMain.
# CMake's MSVC rules name the system libraries; the C runtime is Wine's msvcrt.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "/safeseh:no /entry:mainCRTStartup msvcrt.lib ntdll.lib")

set(CMAKE_FIND_ROOT_PATH ${wine_include})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
