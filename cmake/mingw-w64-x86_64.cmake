# Cross-compiles for 64-bit Windows with the posix-thread mingw-w64 compilers and a static runtime,
# so the DLL and the test programs need no runtime DLLs beside the system ones.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HYD_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HYD_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HYD_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${HYD_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${HYD_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
