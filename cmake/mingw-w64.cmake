# Cross build for 64-bit Windows with mingw-w64 (the posix-threads variant, which has std::thread and
# std::mutex). OGGSOURCE_XIPH_PREFIX names the folder that holds libogg, libvorbis, libtheora and libopus built
# for the same host (tools/windows/build_xiph.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${OGGSOURCE_XIPH_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OGGSOURCE_XIPH_PREFIX)
if(OGGSOURCE_XIPH_PREFIX)
    set(ENV{PKG_CONFIG_LIBDIR} "${OGGSOURCE_XIPH_PREFIX}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
endif()
