# The shipped program: 32-bit Windows, ANSI interfaces.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CLEARNOOK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
