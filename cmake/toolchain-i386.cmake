# Builds ZAVImage for i386 (32-bit x86 Linux) on an x86_64 Debian machine, with g++-multilib and
# the :i386 development packages beside the native ones:
#   cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386.cmake
# Libraries come from the i386 folders only; pkg-config reads the i386 .pc files, so a dependency
# found through pkg-config needs nothing here. With Wine's 32-bit packages the tree also builds the
# COM server for 32-bit Windows programs and its test host (mingw-w64 i686).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Floating point in SSE2 registers, rounded to double or float after every operation as on x86_64:
# the x87 unit's 80-bit intermediates would move a marker's corner or a blended pixel, and files
# made on either architecture must be the same bytes. File sizes and offsets are 64-bit (a file
# above 2 GiB opens). A change here needs a fresh build folder.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -D_FILE_OFFSET_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# The 64-bit folders never serve this tree: libraries are looked for in the i386 ones.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake
                      /usr/include/x86_64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

# Debian ships OpenCV's CMake package for the native architecture only: for i386 a small package
# of the same name describes the i386 core and imgproc libraries.
if(NOT EXISTS /usr/lib/i386-linux-gnu/cmake/opencv4/OpenCVConfig.cmake)
    set(OpenCV_DIR ${CMAKE_CURRENT_LIST_DIR}/i386 CACHE PATH "OpenCV's CMake package for i386")
endif()
