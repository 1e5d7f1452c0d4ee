# The same Windows sources built for 64-bit Windows, so that their tests run under Wine on
# machines that cannot execute 32-bit x86 code (wine32 needs the CPU's 32-bit mode).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CLEARNOOK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
