# The project version in the build: a generated header for the code
# (langmon_version.h, in LANGMON_GENERATED_DIR) and a VERSIONINFO resource
# for each Windows file we ship.
set(LANGMON_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/src/langmon_version.h.in
               ${LANGMON_GENERATED_DIR}/langmon_version.h @ONLY)

# langmon_version_resource(TARGET FILENAME DESCRIPTION [VERSION X.Y.Z]): gives
# TARGET a VERSIONINFO resource with the project version (or X.Y.Z, for a
# test's DLL of another version) as FileVersion and ProductVersion, FILENAME
# as OriginalFilename and DESCRIPTION as FileDescription. Windows builds only.
function(langmon_version_resource target filename description)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "VERSION" "")
  if(arg_VERSION)
    string(REPLACE "." ";" parts "${arg_VERSION}")
    list(GET parts 0 PROJECT_VERSION_MAJOR)
    list(GET parts 1 PROJECT_VERSION_MINOR)
    list(GET parts 2 PROJECT_VERSION_PATCH)
    set(PROJECT_VERSION "${arg_VERSION}")
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(LANGMON_RC_FILETYPE VFT_DLL)
  else()
    set(LANGMON_RC_FILETYPE VFT_APP)
  endif()
  set(LANGMON_RC_FILENAME "${filename}")
  set(LANGMON_RC_DESCRIPTION "${description}")
  get_filename_component(LANGMON_RC_INTERNAL_NAME "${filename}" NAME_WE)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
