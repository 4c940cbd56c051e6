#pragma once
// The system's header as every Windows file of the program takes it: without the parts nobody
// uses (the old socket header among them, so that Windows Sockets 2 can follow) and without the
// min and max macros that would break the standard library's.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
