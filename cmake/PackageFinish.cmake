# The last install step, for the release: signs ConfigTool.exe when the environment names a
# certificate, makes the Windows Installer package around it and signs that too, then lists every
# file in SHA256SUMS. The package goes into the archive and beside it.
#   CONFIGTOOL_SIGN_PKCS12    a PKCS#12 file with the code-signing certificate and its key
#   CONFIGTOOL_SIGN_PASSWORD  its password
#   CONFIGTOOL_SIGN_TIMESTAMP an RFC 3161 time-stamp server (optional)
# Only the installed copy is signed: the built ConfigTool.exe stays as the build made it. Under
# CPack a failure here ends the run before anything is compressed, and an archive or package of
# this version left from an earlier run is gone first, so a failed run leaves neither.
set(stage "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(exe ${stage}/ConfigTool.exe)
set(msi_name ConfigTool-${version}-win32.msi)
set(msi ${stage}/${msi_name})

# CPack installs into PACKAGE_DIR/_CPack_Packages/SYSTEM/GENERATOR/NAME and compresses that into
# NAME.zip beside it, then copies it to PACKAGE_DIR.
set(package_dir)
if(stage MATCHES "^(.*)/_CPack_Packages/[^/]+/[^/]+/([^/]+)$")
  set(package_dir ${CMAKE_MATCH_1})
  file(REMOVE "${package_dir}/${CMAKE_MATCH_2}.zip" "${stage}.zip" "${package_dir}/${msi_name}")
endif()

# The password and the certificate chain live in a folder only its owner can open, for as long as
# a tool needs them, and go on every path out.
macro(stop_signing message)
  file(REMOVE_RECURSE "${sign_dir}")
  message(FATAL_ERROR "${message}")
endmacro()

# Every tool gets a time limit: a signing that hangs would hold the password file open with it.
set(tool_timeout 120)

set(signing OFF)
if(DEFINED ENV{CONFIGTOOL_SIGN_PKCS12} AND NOT "$ENV{CONFIGTOOL_SIGN_PKCS12}" STREQUAL "")
  set(signing ON)
  find_program(OSSLSIGNCODE osslsigncode)
  find_program(OPENSSL openssl)
  if(NOT OSSLSIGNCODE OR NOT OPENSSL)
    message(FATAL_ERROR "Signing was asked for (CONFIGTOOL_SIGN_PKCS12), but osslsigncode or "
                        "openssl is missing.")
  endif()
  set(timestamp)
  if(NOT "$ENV{CONFIGTOOL_SIGN_TIMESTAMP}" STREQUAL "")
    set(timestamp -ts $ENV{CONFIGTOOL_SIGN_TIMESTAMP})
  endif()
endif()

# Signs FILE in place and verifies the signature, against the certificates that came with the
# key and the system's own; else there is no release: a signing that was asked for never yields
# an unsigned or badly signed one.
function(sign file)
  get_filename_component(name ${file} NAME)
  file(REMOVE_RECURSE "${sign_dir}")
  file(MAKE_DIRECTORY "${sign_dir}")
  file(CHMOD "${sign_dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  # The password goes through a file, not the command line, where other users could read it.
  set(password_file ${sign_dir}/password)
  file(WRITE ${password_file} "$ENV{CONFIGTOOL_SIGN_PASSWORD}")
  file(CHMOD ${password_file} PERMISSIONS OWNER_READ OWNER_WRITE)
  get_filename_component(extension ${file} LAST_EXT)
  set(signed ${sign_dir}/signed${extension})
  execute_process(
    COMMAND ${OSSLSIGNCODE} sign -pkcs12 $ENV{CONFIGTOOL_SIGN_PKCS12} -readpass ${password_file}
            -h sha256 -n ConfigTool ${timestamp} -in ${file} -out ${signed}
    TIMEOUT ${tool_timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    stop_signing("Signing ${name} with $ENV{CONFIGTOOL_SIGN_PKCS12} failed (${status}), so no "
                 "release was made:\n${output}")
  endif()
  file(RENAME ${signed} ${file})
  set(chain ${sign_dir}/chain.pem)
  execute_process(COMMAND ${OPENSSL} pkcs12 -in $ENV{CONFIGTOOL_SIGN_PKCS12} -nokeys
                          -passin file:${password_file} -out ${chain}
                  TIMEOUT ${tool_timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(EXISTS /etc/ssl/certs/ca-certificates.crt)
    file(READ /etc/ssl/certs/ca-certificates.crt system_roots)
    file(APPEND ${chain} "${system_roots}")
  endif()
  if(status EQUAL 0)
    execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${chain} -in ${file}
                    TIMEOUT ${tool_timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
  endif()
  if(NOT status EQUAL 0)
    file(REMOVE ${file})
    stop_signing("The signature on ${name} does not verify (${status}), so no release was "
                 "made:\n${output}")
  endif()
  file(REMOVE_RECURSE "${sign_dir}")
  message(NOTICE "${name} signed with $ENV{CONFIGTOOL_SIGN_PKCS12}")
endfunction()

# The package holds the program as it is released: signed first, when signing was asked for.
include(${CMAKE_CURRENT_LIST_DIR}/MakeMsi.cmake)
if(signing)
  sign(${exe})
endif()
make_msi(${version} ${exe} ${msi})
if(signing)
  sign(${msi})
else()
  message(NOTICE "ConfigTool.exe and ${msi_name} are not signed: CONFIGTOOL_SIGN_PKCS12 is not set")
endif()

file(GLOB_RECURSE files RELATIVE ${stage} ${stage}/*)
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(file ${files})
  file(SHA256 ${stage}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")
if(package_dir)
  file(COPY_FILE ${msi} ${package_dir}/${msi_name})
endif()
