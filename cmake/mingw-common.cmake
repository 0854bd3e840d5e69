# Shared part of the mingw-w64 toolchain files. The including file sets
# LANGMON_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32) and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix flavour of the compilers: its runtime has std::thread and
# std::mutex (winpthreads), which the tests use.
set(CMAKE_C_COMPILER ${LANGMON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LANGMON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LANGMON_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LANGMON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything links statically against the compiler's runtime (libgcc,
# libstdc++, libwinpthread): neither the DLL nor the test programs need a DLL
# beside them, only the system's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, in a prefix of their own inside the build
# folder (see scripts/wine-run).
get_filename_component(_langmon_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_langmon_root}/scripts/wine-run")
unset(_langmon_root)
