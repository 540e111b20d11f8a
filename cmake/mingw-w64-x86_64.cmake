# Cross build for 64-bit Windows with mingw-w64 (the posix-thread compiler:
# the win32-thread one has no std::mutex or std::thread).  Everything links
# statically, so the DLL needs nothing beyond KERNEL32.dll and msvcrt.dll.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARNEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VARNEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNEL_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VARNEL_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${VARNEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test discovery and ctest run the Windows programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
