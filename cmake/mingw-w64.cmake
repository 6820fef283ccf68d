# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix threads, for std::thread and std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DPC_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DPC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DPC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_ASM_COMPILER ${DPC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_RC_COMPILER ${DPC_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DPC_MINGW_TRIPLE})
# Libraries and headers come from the cross root (and a Qt built for it, given in CMAKE_PREFIX_PATH); programs
# run at build time are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
