# Compiler and linker options, chosen by the kind of compiler: an MSVC-style front end (cl.exe,
# clang-cl) or a GCC-style one (GCC, Clang).
#   PROGRAM_COMPILE_OPTIONS  for the program's own code, which uses no exceptions or RTTI
#   PROGRAM_LINK_OPTIONS     for ConfigTool.exe and the programs built like it

if(MSVC)
  add_compile_options(/W4 /WX)
  set(PROGRAM_COMPILE_OPTIONS /GR- /EHs-c-)
  set(PROGRAM_LINK_OPTIONS)
  if(WIN32)
    # The C runtime linked in, so the .exe needs no runtime DLL beyond the system's.
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    # No time stamps, so the same sources give the same bytes; and no manifest, as with GCC.
    add_compile_options(/Brepro)
    add_link_options(/Brepro /MANIFEST:NO)
  endif()
else()
  add_compile_options(-Wall -Wextra -Werror)
  set(PROGRAM_COMPILE_OPTIONS -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
  set(PROGRAM_LINK_OPTIONS)
  if(WIN32)
    # No runtime DLLs beside the .exe, and no time stamp or build path in it.
    add_link_options(-static -Wl,--no-insert-timestamp)
    add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
    set(PROGRAM_LINK_OPTIONS -s)
  endif()
endif()

# A toolchain whose import libraries are Wine's libNAME.a (clang-cl-wine-i686): lld-link looks for
# NAME.lib, so a folder of links in the build tree gives it those names.
if(CONFIGTOOL_WINE_IMPORT_LIBS)
  set(lib_links ${CMAKE_BINARY_DIR}/wine-import-libs)
  file(MAKE_DIRECTORY ${lib_links})
  file(GLOB wine_import_libs ${CONFIGTOOL_WINE_IMPORT_LIBS}/lib*.a)
  foreach(archive ${wine_import_libs})
    get_filename_component(name ${archive} NAME_WE)
    string(REGEX REPLACE "^lib" "" name ${name})
    if(NOT EXISTS ${lib_links}/${name}.lib)
      file(CREATE_LINK ${archive} ${lib_links}/${name}.lib SYMBOLIC)
    endif()
  endforeach()
  add_link_options(/libpath:${lib_links})
endif()
