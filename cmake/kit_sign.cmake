# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) after it has installed and stripped
# the kit's files into its staging folder and before it zips them: signs
# langmon.dll and langmon-setup.exe with Authenticode when scripts/kit
# --sign asked for it, and does nothing otherwise.
#
# Environment (set by scripts/kit):
#   LANGMON_SIGN_PFX            the certificate and key, a PKCS#12 file
#   LANGMON_SIGN_PASSWORD       its password; handed to osslsigncode on its
#                               standard input, never on a command line
#   LANGMON_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamping server,
#                               so that the signature outlives the certificate
if("$ENV{LANGMON_SIGN_PFX}" STREQUAL "")
  return()
endif()
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
set(timestamp "")
if(NOT "$ENV{LANGMON_SIGN_TIMESTAMP_URL}" STREQUAL "")
  set(timestamp -ts "$ENV{LANGMON_SIGN_TIMESTAMP_URL}")
endif()
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.dll")
list(LENGTH programs count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "kit_sign: expected langmon.dll and langmon-setup.exe, found [${programs}]")
endif()
foreach(program ${programs})
  get_filename_component(name "${program}" NAME)
  execute_process(
    COMMAND bash -c [[printf '%s' "$LANGMON_SIGN_PASSWORD" | "$@"]] _
            ${OSSLSIGNCODE} sign -pkcs12 "$ENV{LANGMON_SIGN_PFX}" -readpass - -h sha256
            -n "langmon" ${timestamp} -in "${program}" -out "${program}.signed"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    file(REMOVE "${program}.signed")
    message(FATAL_ERROR "kit_sign: osslsigncode could not sign ${name}:\n${out}")
  endif()
  file(RENAME "${program}.signed" "${program}")
  message(STATUS "kit_sign: signed ${name}")
endforeach()
