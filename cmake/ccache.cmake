# Compile through ccache when it is installed.
#
# The cache lives outside the clone (LANGMON_CCACHE_DIR, by default
# $CCACHE_DIR or /var/cache/langmon-ccache), so that every clone on the same
# machine, CI's fresh ones included, shares it. Paths under the source tree
# are hashed relative to the build folder (CCACHE_BASEDIR) and the working
# directory is left out of the hash (CCACHE_NOHASHDIR), so that a clone in
# another folder still hits the objects an earlier clone stored.
#
# Precompiled headers (cmake/build_speed.cmake) are cached too. ccache then
# needs to be told that the header's macros may differ from the file's
# (pch_defines) and that no file of this tree uses __DATE__ or __TIME__
# (time_macros); the .gch is made by the step just before the files that use
# it, so its times are not held against it either (include_file_mtime,
# include_file_ctime).
option(LANGMON_CCACHE "Compile through ccache when it is installed" ON)

if(LANGMON_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER AND CMAKE_HOST_UNIX)
  find_program(LANGMON_CCACHE_PROGRAM ccache)
  if(LANGMON_CCACHE_PROGRAM)
    if(DEFINED ENV{CCACHE_DIR} AND NOT "$ENV{CCACHE_DIR}" STREQUAL "")
      set(_langmon_ccache_default "$ENV{CCACHE_DIR}")
    else()
      set(_langmon_ccache_default "/var/cache/langmon-ccache")
    endif()
    set(LANGMON_CCACHE_DIR "${_langmon_ccache_default}" CACHE PATH "Where ccache keeps its objects")
    unset(_langmon_ccache_default)

    # A cache folder that cannot be made or written (an ordinary user and a
    # folder under /var) falls back to ccache's own per-user default.
    execute_process(COMMAND mkdir -p "${LANGMON_CCACHE_DIR}" RESULT_VARIABLE _langmon_mkdir
                    OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND test -w "${LANGMON_CCACHE_DIR}" RESULT_VARIABLE _langmon_writable)
    set(_langmon_launcher
        env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1
        CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime)
    if(_langmon_mkdir EQUAL 0 AND _langmon_writable EQUAL 0)
      list(APPEND _langmon_launcher CCACHE_DIR=${LANGMON_CCACHE_DIR})
      message(STATUS "ccache: ${LANGMON_CCACHE_PROGRAM}, cache in ${LANGMON_CCACHE_DIR}")
    else()
      message(STATUS "ccache: ${LANGMON_CCACHE_DIR} is not writable, using ccache's default")
    endif()
    list(APPEND _langmon_launcher ${LANGMON_CCACHE_PROGRAM})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${_langmon_launcher})
    set(CMAKE_C_COMPILER_LAUNCHER ${_langmon_launcher})
    unset(_langmon_launcher)
    unset(_langmon_mkdir)
    unset(_langmon_writable)
  endif()
endif()
