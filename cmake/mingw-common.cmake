set(CMAKE_C_COMPILER ${VELNOTE_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELNOTE_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELNOTE_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELNOTE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The posix-thread runtime would otherwise import libwinpthread-1.dll even with
# -static-libgcc -static-libstdc++; the host and the editor have no such DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
