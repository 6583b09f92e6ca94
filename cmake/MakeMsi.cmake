# The Windows Installer package of ConfigTool, from deploy/ConfigTool.wxs, with wixl: the same
# bytes wherever and whenever it is built. The product code follows the version (a new one for
# each version, as a major upgrade needs), the package code follows the contents, and every time
# in it is one fixed time, never the clock's or a file's.
#   include(MakeMsi.cmake), then make_msi(VERSION EXE OUT); the release's last install step does.
#   cmake -D version=V -D exe=EXE -D out=MSI -P cmake/MakeMsi.cmake   the same, for a test that
#                                                                     needs another version
set(msi_root ${CMAKE_CURRENT_LIST_DIR}/..)
# UTC, so that no machine's time zone shows either.
set(msi_time "2026-01-01 00:00:00")
# Product and package codes are name-based UUIDs in this namespace of ConfigTool's own.
set(msi_namespace 0176da7d-7f98-4e95-802d-2e8a5ba746e2)

# Runs a command; PARSE_ARGV keeps an argument with a semicolon ("Intel;1033") whole.
function(msi_run)
  cmake_parse_arguments(PARSE_ARGV 0 run "" "" "")
  execute_process(COMMAND ${run_UNPARSED_ARGUMENTS} TIMEOUT 120 RESULT_VARIABLE status
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Making the Windows Installer package failed (${status}): ${ARGV}\n${output}")
  endif()
endfunction()

# The file version in the program's version resource (VS_FIXEDFILEINFO, after its signature
# 0xFEEF04BD), as Windows Installer writes it: wixl leaves it out, and Windows Installer then
# treats the program as an unversioned file.
function(file_version exe variable)
  file(READ ${exe} hex HEX)
  string(FIND "${hex}" "bd04effe" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${exe} has no version resource")
  endif()
  set(parts)
  foreach(offset 20 16 28 24)  # dwFileVersionMS high and low word, then dwFileVersionLS's
    math(EXPR start "${at} + ${offset}")
    string(SUBSTRING "${hex}" ${start} 4 word)
    string(SUBSTRING "${word}" 2 2 high)
    string(SUBSTRING "${word}" 0 2 low)
    math(EXPR number "0x${high}${low}")
    list(APPEND parts ${number})
  endforeach()
  list(JOIN parts . version)
  set(${variable} ${version} PARENT_SCOPE)
endfunction()

function(make_msi version exe out)
  foreach(tool wixl msibuild faketime)
    find_program(${tool}_path ${tool})
    if(NOT ${tool}_path)
      message(FATAL_ERROR "The Windows Installer package needs ${tool} (wixl, msitools, faketime: "
                          "tools/install-deps installs them).")
    endif()
  endforeach()
  set(work ${out}.parts)
  file(REMOVE_RECURSE ${work} ${out})
  file(MAKE_DIRECTORY ${work})
  # wixl finds sources by relative name only. The cabinet keeps each file's time: one for all.
  file(COPY_FILE ${exe} ${work}/ConfigTool.exe)
  file(COPY ${msi_root}/ui/app.ico ${msi_root}/deploy/ConfigTool.wxs DESTINATION ${work})
  msi_run(touch -d "${msi_time} UTC" ${work}/ConfigTool.exe ${work}/app.ico)

  set(at_fixed_time ${CMAKE_COMMAND} -E chdir ${work} ${CMAKE_COMMAND} -E env TZ=UTC
      ${faketime_path} -f ${msi_time})
  string(UUID product NAMESPACE ${msi_namespace} NAME "ConfigTool ${version}" TYPE SHA1 UPPER)
  msi_run(${at_fixed_time} ${wixl_path} -a x86 -D Version=${version} -D ProductCode={${product}}
          -D Exe=ConfigTool.exe -D Icon=app.ico -o ConfigTool.msi ConfigTool.wxs)
  file_version(${exe} exe_version)
  msi_run(${at_fixed_time} ${msibuild_path} ConfigTool.msi -q
          "UPDATE `File` SET `Version` = '${exe_version}' WHERE `File` = 'ConfigTool.exe'")
  # wixl draws a random package code: a fixed one first, then one made from what that gives.
  foreach(step placeholder contents)
    if(step STREQUAL placeholder)
      set(package 00000000-0000-0000-0000-000000000000)
    else()
      file(SHA256 ${work}/ConfigTool.msi contents)
      string(UUID package NAMESPACE ${msi_namespace} NAME ${contents} TYPE SHA1 UPPER)
    endif()
    msi_run(${at_fixed_time} ${msibuild_path} ConfigTool.msi -s "ConfigTool ${version}" ConfigTool
            "Intel;1033" {${package}})
  endforeach()
  file(RENAME ${work}/ConfigTool.msi ${out})
  file(REMOVE_RECURSE ${work})
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  make_msi(${version} ${exe} ${out})
endif()
