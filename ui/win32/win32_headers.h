// The Windows headers as every Win32 source of the program includes them: ANSI interfaces and
// common controls (CMake leaves out the min/max macros for every file).
#pragma once

#include <windows.h>

// commctrl.h builds on windows.h's types, so it comes second.
#include <commctrl.h>
