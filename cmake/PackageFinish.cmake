# The last install step, for the release: signs ConfigTool.exe when the environment names a key,
# makes the Windows Installer package around it and signs that too, then lists every file in
# SHA256SUMS. The package goes into the archive and beside it.
#   CONFIGTOOL_SIGN_PKCS12         a PKCS#12 file with the code-signing certificate, chain and key; or
#   CONFIGTOOL_SIGN_PKCS11_MODULE  the PKCS#11 module of the token or HSM that holds the key,
#   CONFIGTOOL_SIGN_PKCS11_KEY     the key in it, as a PKCS#11 URI (pkcs11:token=release;object=signer)
#   CONFIGTOOL_SIGN_CERTS          and the signer's certificate and its chain, PEM
#   CONFIGTOOL_SIGN_PASSWORD_FILE  a file that holds the password or PIN; or
#   CONFIGTOOL_SIGN_PASSWORD       the password or PIN itself
#   CONFIGTOOL_SIGN_TIMESTAMP      RFC 3161 time-stamp servers, tried in turn: required, since a
#                                  signature without a time stamp stops validating when the
#                                  certificate expires
#   CONFIGTOOL_SIGN_NO_TIMESTAMP=1 for a build signed for local tests only: no time stamp
#   CONFIGTOOL_SIGN_TSA_CERTS      the time-stamp authority's CA certificates, PEM, for the check,
#                                  where the system's own do not hold them
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

# The password and the certificates live in a folder only its owner can open, for as long as a
# tool needs them, and go on every path out. The password never stands on a command line.
macro(stop_signing message)
  file(REMOVE_RECURSE "${sign_dir}")
  message(FATAL_ERROR "${message}")
endmacro()

# Every tool gets a time limit: a signing that hangs would hold the password file open with it.
set(tool_timeout 120)

set(signing OFF)
set(pkcs12 "$ENV{CONFIGTOOL_SIGN_PKCS12}")
set(pkcs11_module "$ENV{CONFIGTOOL_SIGN_PKCS11_MODULE}")
if(NOT pkcs12 STREQUAL "" OR NOT pkcs11_module STREQUAL "")
  set(signing ON)
  find_program(OSSLSIGNCODE osslsigncode)
  find_program(OPENSSL openssl)
  if(NOT OSSLSIGNCODE OR NOT OPENSSL)
    message(FATAL_ERROR "Signing was asked for, but osslsigncode or openssl is missing.")
  endif()
  if(NOT pkcs11_module STREQUAL "")
    if("$ENV{CONFIGTOOL_SIGN_PKCS11_KEY}" STREQUAL "" OR "$ENV{CONFIGTOOL_SIGN_CERTS}" STREQUAL "")
      message(FATAL_ERROR "A key in a token (CONFIGTOOL_SIGN_PKCS11_MODULE) also needs "
                          "CONFIGTOOL_SIGN_PKCS11_KEY and CONFIGTOOL_SIGN_CERTS.")
    endif()
    # The key's URI goes to osslsigncode as it is (see sign()): its parts are separated by ";",
    # CMake's list separator.
    set(key_args -pkcs11module ${pkcs11_module} -certs $ENV{CONFIGTOOL_SIGN_CERTS})
    # osslsigncode 2.9 finds OpenSSL's pkcs11 engine by itself, older ones are told where it is.
    execute_process(COMMAND ${OPENSSL} version -e OUTPUT_VARIABLE engines TIMEOUT ${tool_timeout})
    if(engines MATCHES "ENGINESDIR: \"([^\"]+)\"" AND EXISTS "${CMAKE_MATCH_1}/pkcs11.so")
      list(APPEND key_args -pkcs11engine ${CMAKE_MATCH_1}/pkcs11.so)
    endif()
    set(key_name "the key ${pkcs11_module} holds")
  else()
    set(key_args -pkcs12 ${pkcs12})
    set(key_name ${pkcs12})
  endif()
  string(REGEX REPLACE "[ ;,]+" ";" timestamps "$ENV{CONFIGTOOL_SIGN_TIMESTAMP}")
  list(REMOVE_ITEM timestamps "")
  if("$ENV{CONFIGTOOL_SIGN_NO_TIMESTAMP}" STREQUAL "1")
    set(timestamps)
    message(NOTICE "Signing for local tests only, without a time stamp "
                   "(CONFIGTOOL_SIGN_NO_TIMESTAMP=1): the signatures stop validating when the "
                   "certificate expires. Never release this build.")
  elseif(NOT timestamps)
    message(FATAL_ERROR "A signed release needs a time stamp, or its signatures stop validating "
                        "when the certificate expires: name one or more RFC 3161 time-stamp "
                        "servers in CONFIGTOOL_SIGN_TIMESTAMP (or set "
                        "CONFIGTOOL_SIGN_NO_TIMESTAMP=1 for a build signed for local tests only).")
  endif()
endif()

# CA certificates for the check: those given, and the system's own.
function(ca_file out)
  file(WRITE ${out} "")
  foreach(pem ${ARGN} /etc/ssl/certs/ca-certificates.crt)
    if(EXISTS "${pem}")
      file(READ "${pem}" text)
      file(APPEND ${out} "${text}")
    endif()
  endforeach()
endfunction()

# Signs FILE in place, time-stamped by the first server that answers, and verifies the signature
# and its time stamp, against the certificates that came with the key and the system's own; else
# there is no release: a signing that was asked for never yields an unsigned or badly signed one.
function(sign file)
  get_filename_component(name ${file} NAME)
  file(REMOVE_RECURSE "${sign_dir}")
  file(MAKE_DIRECTORY "${sign_dir}")
  file(CHMOD "${sign_dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  if(NOT "$ENV{CONFIGTOOL_SIGN_PASSWORD_FILE}" STREQUAL "")
    set(password_file $ENV{CONFIGTOOL_SIGN_PASSWORD_FILE})
  else()
    set(password_file ${sign_dir}/password)
    file(WRITE ${password_file} "$ENV{CONFIGTOOL_SIGN_PASSWORD}")
    file(CHMOD ${password_file} PERMISSIONS OWNER_READ OWNER_WRITE)
  endif()
  get_filename_component(extension ${file} LAST_EXT)
  set(signed ${sign_dir}/signed${extension})
  set(said "")
  set(stamped_by "")
  foreach(server ${timestamps} none)
    if(server STREQUAL "none" AND timestamps)
      break()  # every server was tried
    endif()
    set(ts_args)
    if(NOT server STREQUAL "none")
      set(ts_args -ts ${server})
    endif()
    file(REMOVE ${signed})
    set(sign_args -readpass ${password_file} -h sha256 -n ConfigTool ${ts_args} -in ${file}
                  -out ${signed})
    if(pkcs12 STREQUAL "")
      execute_process(
        COMMAND ${OSSLSIGNCODE} sign ${key_args} -key "$ENV{CONFIGTOOL_SIGN_PKCS11_KEY}" ${sign_args}
        TIMEOUT ${tool_timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    else()
      execute_process(COMMAND ${OSSLSIGNCODE} sign ${key_args} ${sign_args}
        TIMEOUT ${tool_timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    endif()
    string(APPEND said "${output}")
    if(status EQUAL 0)
      set(stamped_by ${server})
      break()
    endif()
  endforeach()
  if(NOT status EQUAL 0)
    stop_signing("Signing ${name} with ${key_name} failed (${status}), so no release was made:\n"
                 "${said}")
  endif()
  file(RENAME ${signed} ${file})
  set(chain ${sign_dir}/chain.pem)
  if(pkcs12 STREQUAL "")
    ca_file(${chain} $ENV{CONFIGTOOL_SIGN_CERTS})
    set(status 0)
  else()
    execute_process(COMMAND ${OPENSSL} pkcs12 -in ${pkcs12} -nokeys -passin file:${password_file}
                            -out ${sign_dir}/pkcs12.pem
                    TIMEOUT ${tool_timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    ca_file(${chain} ${sign_dir}/pkcs12.pem)
  endif()
  ca_file(${sign_dir}/tsa.pem $ENV{CONFIGTOOL_SIGN_TSA_CERTS})
  if(status EQUAL 0)
    execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${chain} -TSA-CAfile ${sign_dir}/tsa.pem
                            -in ${file}
                    TIMEOUT ${tool_timeout} RESULT_VARIABLE status OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
  endif()
  # osslsigncode 2.5 and 2.9 both say so of a time stamp that verifies.
  if(status EQUAL 0 AND timestamps AND NOT output MATCHES "Timestamp Server Signature verification: ok")
    set(status "no time stamp")
  endif()
  if(NOT status EQUAL 0)
    file(REMOVE ${file})
    stop_signing("The signature on ${name} does not verify (${status}), so no release was "
                 "made:\n${output}")
  endif()
  file(REMOVE_RECURSE "${sign_dir}")
  if(stamped_by STREQUAL "none")
    message(NOTICE "${name} signed with ${key_name}, without a time stamp")
  else()
    message(NOTICE "${name} signed with ${key_name}, time-stamped by ${stamped_by}")
  endif()
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
  message(NOTICE "ConfigTool.exe and ${msi_name} are not signed: neither CONFIGTOOL_SIGN_PKCS12 nor "
                 "CONFIGTOOL_SIGN_PKCS11_MODULE is set")
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
