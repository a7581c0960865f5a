# Cross-build for Windows x86-64 with MinGW-w64; programs run under Wine.
#
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The runtime libraries are linked statically, so the executables need no DLLs beside them. Wine
# keeps its prefix in the build folder (created on the first run) unless WINEPREFIX is set.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Wine's symbol library reads debug information up to DWARF version 4.
set(CMAKE_C_FLAGS_DEBUG_INIT "-gdwarf-4")
set(CMAKE_CXX_FLAGS_DEBUG_INIT "-gdwarf-4")
set(CMAKE_C_FLAGS_RELWITHDEBINFO_INIT "-O2 -gdwarf-4 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO_INIT "-O2 -gdwarf-4 -DNDEBUG")

if(DEFINED ENV{WINEPREFIX})
  set(quorvel_wine_prefix "$ENV{WINEPREFIX}")
else()
  set(quorvel_wine_prefix "${CMAKE_BINARY_DIR}/wine")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all "WINEPREFIX=${quorvel_wine_prefix}" wine)
