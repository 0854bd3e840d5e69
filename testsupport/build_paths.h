// Where the programs and files that the tests use are in this build: each
// test target defines, in one source CMake generates for it
// (cmake/build_paths.cmake), the names it uses, and only those.
#pragma once

namespace build_paths {

// The host's programs and what they read (tests/host).
extern const char kCli[];         // the langmon command
extern const char kPrinter[];     // langmon-printer
extern const char kExamples[];    // the examples folder of the source tree
extern const char kGolden[];      // tests/host/golden
extern const char kBuildDir[];    // the build folder, for cmake --install
extern const char kCmake[];       // the cmake that configured the build
extern const char kCompletion[];  // tools/completion/langmon.bash

// The platform layer's header, read by the ports' tests (tests/ports).
extern const char kPlatformHeader[];

// The built DLL, in the form LoadLibrary takes (tests/dll).
extern const char kDll[];

// The Windows kit's files, in the form Win32 takes (tests/setup).
extern const wchar_t kDllW[];
extern const wchar_t kSetup[];
extern const wchar_t kExampleInf[];

}  // namespace build_paths
