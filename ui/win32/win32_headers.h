// The Windows headers as every Win32 source of the program includes them: ANSI interfaces, no
// min/max macros, common controls.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// commctrl.h builds on windows.h's types, so it comes second.
#include <commctrl.h>
