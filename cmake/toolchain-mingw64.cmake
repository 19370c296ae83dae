# Cross build for 64-bit Windows with mingw-w64, run under wine.
#
# The posix thread model is required: Debian's default mingw-w64 compilers use the win32 model,
# where std::mutex and std::thread do not compile. Everything is linked statically, so the
# programs, the tests and the simulator's DLL run on a bare Windows (or a fresh wine prefix)
# without libstdc++, libgcc or winpthread DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORLEN_MINGW_TRIPLE x86_64-w64-mingw32)

find_program(VORLEN_MINGW_CC NAMES ${VORLEN_MINGW_TRIPLE}-gcc-posix)
find_program(VORLEN_MINGW_CXX NAMES ${VORLEN_MINGW_TRIPLE}-g++-posix)
if(NOT VORLEN_MINGW_CC OR NOT VORLEN_MINGW_CXX)
    message(FATAL_ERROR "${VORLEN_MINGW_TRIPLE}-gcc-posix / -g++-posix not found "
                        "(Debian: g++-mingw-w64-x86-64-posix)")
endif()
set(CMAKE_C_COMPILER ${VORLEN_MINGW_CC})
set(CMAKE_CXX_COMPILER ${VORLEN_MINGW_CXX})
find_program(CMAKE_RC_COMPILER NAMES ${VORLEN_MINGW_TRIPLE}-windres)
find_program(CMAKE_AR NAMES ${VORLEN_MINGW_TRIPLE}-gcc-ar-posix ${VORLEN_MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB NAMES ${VORLEN_MINGW_TRIPLE}-gcc-ranlib-posix ${VORLEN_MINGW_TRIPLE}-ranlib)

# A warm compiler cache turns a rebuild in a fresh checkout into a matter of seconds; the windows
# leg sets CCACHE_BASEDIR so that checkouts in other folders share it.
find_program(VORLEN_CCACHE ccache)
if(VORLEN_CCACHE)
    set(CMAKE_C_COMPILER_LAUNCHER ${VORLEN_CCACHE})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${VORLEN_CCACHE})
endif()

# Libraries, headers and CMake packages come from the target's sysroot only: the host's GTest or
# Qt would link, at best, into an unusable program.
set(CMAKE_FIND_ROOT_PATH /usr/${VORLEN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -O2 rather than CMake's -O3: the cross build runs on CI's two cores next to three other
# configurations, and -O2 compiles faster.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs and anything else the build runs go through wine. wine64 itself (not the
# wrapper script) when it is there: the wrapper looks for a 32-bit wine first and warns about it
# on every start.
find_program(VORLEN_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin)
if(VORLEN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VORLEN_WINE})
endif()

# The windows need a Qt 6 built for this target. A host Qt is never picked up (see the find
# modes above), so without one the GUI is left out rather than failing the configuration.
if(NOT DEFINED CACHE{VORLEN_BUILD_GUI})
    set(vorlen_target_qt "")
    foreach(prefix IN LISTS CMAKE_PREFIX_PATH CMAKE_FIND_ROOT_PATH)
        if(EXISTS "${prefix}/lib/cmake/Qt6/Qt6Config.cmake")
            set(vorlen_target_qt "${prefix}")
        endif()
    endforeach()
    if(NOT vorlen_target_qt AND NOT Qt6_DIR)
        set(VORLEN_BUILD_GUI OFF CACHE BOOL "Build the Qt windows when Qt 6 is found")
    endif()
endif()
