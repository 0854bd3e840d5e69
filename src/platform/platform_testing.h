// Hooks into the Linux platform layer for tests: they exist only there, so
// a test that uses them is compiled on Linux only.
#pragma once

#include "platform/platform.h"

#if !defined(_WIN32)

// How many registry handles are open right now.
long LmOpenRegistryKeyCount();
// Makes the n-th LocalAlloc from now fail; 0 turns the switch off.
void LmFailLocalAllocAfter(unsigned n);
// Makes the key behind an open handle grant reading only, as a key whose
// security allows a caller no more: later opens that ask for any right
// beyond KEY_READ fail with ERROR_ACCESS_DENIED. Handles already open keep
// their rights. (Every handle holds the rights it was opened with: setting
// a value needs KEY_SET_VALUE, reading one KEY_QUERY_VALUE.)
LONG LmSetRegistryKeyReadOnly(HKEY key, BOOL readOnly);

#endif
