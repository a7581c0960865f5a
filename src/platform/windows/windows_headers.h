#pragma once
// The Windows headers, included the same way everywhere in this folder: without the rarely used
// parts and without the min/max macros that break the standard library.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
