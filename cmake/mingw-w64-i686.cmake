# Cross build for 32-bit Windows with mingw-w64 (the posix-threads variant), beside the 64-bit one in
# mingw-w64.cmake. OGGSOURCE_XIPH_PREFIX names the folder that holds libogg, libvorbis, libtheora and libopus built for
# the same host (tools/windows/build_xiph.sh PREFIX i686-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${OGGSOURCE_XIPH_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OGGSOURCE_XIPH_PREFIX)
if(OGGSOURCE_XIPH_PREFIX)
    set(ENV{PKG_CONFIG_LIBDIR} "${OGGSOURCE_XIPH_PREFIX}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
endif()
