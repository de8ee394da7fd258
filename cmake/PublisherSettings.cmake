# The publisher's port, TLS mode and trusted authority, fixed at build time
# beside the host, password and key of the top CMakeLists, and a summary of
# everything built in (scripts/package shows its "Built in:" lines).

set(VORN_FTP_PORT 21 CACHE STRING "Publisher FTP port (VORN_FTP_PORT in the environment overrides it)")
if(NOT VORN_FTP_PORT MATCHES "^[1-9][0-9]*$" OR VORN_FTP_PORT GREATER 65535)
  message(FATAL_ERROR "VORN_FTP_PORT must be a port number from 1 to 65535, not '${VORN_FTP_PORT}'")
endif()

# Explicit FTP over TLS: "try" (when the server offers it), "require" or "off".
set(VORN_FTP_TLS "try" CACHE STRING "FTP over TLS: try, require or off")
set_property(CACHE VORN_FTP_TLS PROPERTY STRINGS try require off)
if(NOT VORN_FTP_TLS MATCHES "^(try|require|off)$")
  message(FATAL_ERROR "VORN_FTP_TLS must be try, require or off, not '${VORN_FTP_TLS}'")
endif()

# A certificate file (PEM: a publisher's own authority) trusted besides the
# system's. Its contents go into the programs, never its path: the file is
# read here, on the build machine, and a changed file configures again.
set(VORN_FTP_CA "" CACHE FILEPATH "Certificate file (PEM) trusted besides the system's authorities (optional)")
set(VORN_FTP_CA_PEM "")
set(VORN_FTP_CA_SUBJECTS "none: the system's authorities only")
if(VORN_FTP_CA)
  if(NOT EXISTS "${VORN_FTP_CA}" OR IS_DIRECTORY "${VORN_FTP_CA}")
    message(FATAL_ERROR "VORN_FTP_CA names no certificate file: '${VORN_FTP_CA}'")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${VORN_FTP_CA}")
  file(READ "${VORN_FTP_CA}" VORN_FTP_CA_PEM)
  # Every certificate in it, by subject; anything that is not PEM
  # certificates stops the build here rather than the program on a customer's PC.
  find_program(VORN_OPENSSL openssl REQUIRED)
  execute_process(COMMAND "${VORN_OPENSSL}" crl2pkcs7 -nocrl -certfile "${VORN_FTP_CA}"
                  COMMAND "${VORN_OPENSSL}" pkcs7 -print_certs -noout
                  OUTPUT_VARIABLE _vorn_ca_listing RESULT_VARIABLE _vorn_ca_result ERROR_QUIET)
  string(REGEX MATCHALL "subject=[^\n]*" _vorn_ca_subjects "${_vorn_ca_listing}")
  if(NOT _vorn_ca_result EQUAL 0 OR NOT _vorn_ca_subjects OR NOT VORN_FTP_CA_PEM MATCHES "-----BEGIN CERTIFICATE-----")
    message(FATAL_ERROR "VORN_FTP_CA must be a file of PEM certificates (-----BEGIN CERTIFICATE-----): '${VORN_FTP_CA}'")
  endif()
  string(REPLACE "subject=" "" _vorn_ca_subjects "${_vorn_ca_subjects}")
  string(REPLACE ";" " | " VORN_FTP_CA_SUBJECTS "${_vorn_ca_subjects}")
endif()
# A raw string whose end marker no PEM text holds.
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/generated/VornBuiltInCa.h"
     CONTENT "#pragma once\n// Generated from VORN_FTP_CA: the certificates themselves, never the file's path.\ninline constexpr char kBuiltInCaPem[] = R\"vorn_ca(@VORN_FTP_CA_PEM@)vorn_ca\";\n"
     @ONLY)

function(vorn_print_built_in_settings)
  if(VORN_FTP_HOST STREQUAL VORN_FTP_HOST_PLACEHOLDER)
    set(host "${VORN_FTP_HOST} (the placeholder: no publisher; set -DVORN_FTP_HOST=...)")
  else()
    set(host "${VORN_FTP_HOST}")
  endif()
  if(VORN_RELEASE_KEY)
    set(key "${VORN_RELEASE_KEY}")
  else()
    set(key "none: releases are not verified (set -DVORN_RELEASE_KEY=RW...)")
  endif()
  message(STATUS "Built in: host ${host}")
  message(STATUS "Built in: port ${VORN_FTP_PORT}")
  message(STATUS "Built in: TLS ${VORN_FTP_TLS}")
  message(STATUS "Built in: authority ${VORN_FTP_CA_SUBJECTS}")
  message(STATUS "Built in: release key ${key}")
endfunction()
