# Run by CPack on the files staged for the release archive, before it is made: signs
# ConfigTool.exe when the environment names a certificate, then lists every file in SHA256SUMS.
#   CONFIGTOOL_SIGN_PKCS12    a PKCS#12 file with the code-signing certificate and its key
#   CONFIGTOOL_SIGN_PASSWORD  its password
#   CONFIGTOOL_SIGN_TIMESTAMP an RFC 3161 time-stamp server (optional)
# Only the staged copy is signed: the built ConfigTool.exe stays as the build made it.
set(stage ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
set(exe ${stage}/ConfigTool.exe)

if(DEFINED ENV{CONFIGTOOL_SIGN_PKCS12} AND NOT "$ENV{CONFIGTOOL_SIGN_PKCS12}" STREQUAL "")
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "Signing was asked for (CONFIGTOOL_SIGN_PKCS12), but there is no osslsigncode.")
  endif()
  set(timestamp)
  if(NOT "$ENV{CONFIGTOOL_SIGN_TIMESTAMP}" STREQUAL "")
    set(timestamp -ts $ENV{CONFIGTOOL_SIGN_TIMESTAMP})
  endif()
  # The password goes through a file, not the command line, where other users could read it.
  set(password_file ${stage}/../sign-password)
  file(WRITE ${password_file} "$ENV{CONFIGTOOL_SIGN_PASSWORD}")
  execute_process(
    COMMAND ${OSSLSIGNCODE} sign -pkcs12 $ENV{CONFIGTOOL_SIGN_PKCS12} -readpass ${password_file}
            -h sha256 -n ConfigTool ${timestamp} -in ${exe} -out ${exe}.signed
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  file(REMOVE ${password_file})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Signing ConfigTool.exe with $ENV{CONFIGTOOL_SIGN_PKCS12} failed, so no "
                        "archive was made:\n${output}")
  endif()
  file(RENAME ${exe}.signed ${exe})
  # The signature must hold up, against the certificates that came with the key and the system's
  # own, else there is no archive: a signing that was asked for never yields an unsigned or
  # badly signed release.
  find_program(OPENSSL openssl)
  if(NOT OPENSSL)
    message(FATAL_ERROR "Signing was asked for, but there is no openssl to check the signature with.")
  endif()
  set(chain ${stage}/../sign-chain.pem)
  file(WRITE ${password_file} "$ENV{CONFIGTOOL_SIGN_PASSWORD}")
  execute_process(COMMAND ${OPENSSL} pkcs12 -in $ENV{CONFIGTOOL_SIGN_PKCS12} -nokeys
                          -passin file:${password_file} -out ${chain}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  file(REMOVE ${password_file})
  if(EXISTS /etc/ssl/certs/ca-certificates.crt)
    file(READ /etc/ssl/certs/ca-certificates.crt system_roots)
    file(APPEND ${chain} "${system_roots}")
  endif()
  if(status EQUAL 0)
    execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${chain} -in ${exe}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  endif()
  file(REMOVE ${chain})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "The signature on ConfigTool.exe does not verify, so no archive was made:\n${output}")
  endif()
  message(STATUS "ConfigTool.exe signed with $ENV{CONFIGTOOL_SIGN_PKCS12}")
else()
  message(STATUS "ConfigTool.exe is not signed: CONFIGTOOL_SIGN_PKCS12 is not set")
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
