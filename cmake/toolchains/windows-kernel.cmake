# Cross build of the kernel driver image for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64, mingw-w64-x86-64-dev): kernel, kernel-streaming and USB headers from
# its include and ddk/ folders, import libraries for ntoskrnl, ks, usbd and hal.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(BAYERCAM_MINGW_PREFIX x86_64-w64-mingw32)
# The win32 thread model: the posix one links a threads runtime a driver cannot have.
find_program(CMAKE_C_COMPILER NAMES ${BAYERCAM_MINGW_PREFIX}-gcc-win32 ${BAYERCAM_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${BAYERCAM_MINGW_PREFIX}-g++-win32
             ${BAYERCAM_MINGW_PREFIX}-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${BAYERCAM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Kernel code: no C runtime, no exceptions or RTTI, stack protection with a cookie that the load
# entry seeds, and no unwinding through C++ frames.
set(bayercam_kernel_flags
    "-ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -fstack-protector-strong")
set(CMAKE_C_FLAGS_INIT "${bayercam_kernel_flags}")
set(CMAKE_CXX_FLAGS_INIT "${bayercam_kernel_flags}")
# The checks of a compiler need no C runtime to link.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(BAYERCAM_WINDOWS_KERNEL ON CACHE BOOL "Build the Windows kernel driver image" FORCE)
