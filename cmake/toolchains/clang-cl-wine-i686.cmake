# 32-bit Windows programs with clang-cl, lld-link and llvm-rc in MSVC mode, against the Win32
# headers and import libraries of Debian's Wine (libwine-dev:i386), run under Wine.
# It proves the MSVC-style branch of the build and the code's MSVC dialect on a Linux machine.
# Its programs start through Wine's start-up code instead of Microsoft's C runtime, which is not
# here: they are for testing only and never shipped. There is no C++ library either, so the test
# programs come from the mingw-w64 build (CONFIGTOOL_TEST_PROGRAMS).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_MT llvm-mt-14)

set(wine_include /usr/include/wine/wine)
set(wine_lib /usr/lib/i386-linux-gnu/wine/i386-windows)

# A machine may lack these (tools/install-deps names what it could not install); tools/test skips
# this build when configuring stops with "not on this machine".
foreach(tool clang-cl-14 llvm-rc-14 lld-link-14 llvm-lib-14)
  find_program(path ${tool} NO_CACHE)
  if(NOT path)
    message(FATAL_ERROR "not on this machine: ${tool} (clang-tools-14, lld-14, llvm-14)")
  endif()
endforeach()
if(NOT EXISTS ${wine_include}/windows/windows.h OR NOT EXISTS ${wine_lib}/libkernel32.a)
  message(FATAL_ERROR "not on this machine: Wine's Win32 headers and import libraries (libwine-dev:i386)")
endif()

# Wine's headers are the system headers (-imsvc). /Zl and /GS-: no Microsoft runtime to name or
# to hold the stack cookie; _MSVCR_VER=0 asks the headers for msvcrt.dll, not the UCRT.
# clang 14 and Wine 8's winnt.h both define the inline Interlocked helpers on i386 (the 64-bit and pointer ones): Wine's
# are renamed out of the way.
set(flags "--target=i686-pc-windows-msvc -imsvc ${wine_include}/msvcrt -imsvc ${wine_include}/windows /X /Zl /GS- -D_MSVCR_VER=0")
foreach(helper _InterlockedAnd64 _InterlockedOr64 _InterlockedXor64 _InterlockedExchangeAdd64
               _InterlockedIncrement64 _InterlockedDecrement64
               _InterlockedCompareExchangePointer _InterlockedExchangePointer)
  string(APPEND flags " -D${helper}=wine${helper}")
endforeach()
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_RC_FLAGS_INIT "-I${wine_include}/windows")

# lld-link looks for NAME.lib; Wine ships libNAME.a: a folder of links gives it the names.
set(lib_links ${CMAKE_BINARY_DIR}/wine-import-libs)
file(MAKE_DIRECTORY ${lib_links})
file(GLOB wine_import_libs ${wine_lib}/lib*.a)
foreach(archive ${wine_import_libs})
  get_filename_component(name ${archive} NAME_WE)
  string(REGEX REPLACE "^lib" "" name ${name})
  if(NOT EXISTS ${lib_links}/${name}.lib)
    file(CREATE_LINK ${archive} ${lib_links}/${name}.lib SYMBOLIC)
  endif()
endforeach()
# Wine's import members are not SEH-safe; its msvcrt start-up calls main, whose main calls WinMain.
# CMake's MSVC rules name the system libraries; the C runtime is Wine's msvcrt.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "/libpath:${lib_links} /safeseh:no /entry:mainCRTStartup msvcrt.lib ntdll.lib")

set(CMAKE_FIND_ROOT_PATH ${wine_include})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
