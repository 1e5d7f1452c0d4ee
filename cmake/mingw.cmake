# What the two mingw-w64 toolchain files share; each sets CLEARNOOK_MINGW_TRIPLE first.
# POSIX thread model, so std::thread and std::mutex work; the compiler's runtime is linked in
# statically, so the programs and tests need no DLL beyond those Windows itself ships.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${CLEARNOOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CLEARNOOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CLEARNOOK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CLEARNOOK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
