// Hooks into the Linux platform layer for tests: they exist only there, so
// a test that uses them is compiled on Linux only.
#pragma once

#include "platform/platform.h"

#if !defined(_WIN32)

// How many registry handles are open right now.
long LmOpenRegistryKeyCount();
// Makes the n-th LocalAlloc from now fail; 0 turns the switch off.
void LmFailLocalAllocAfter(unsigned n);

#endif
