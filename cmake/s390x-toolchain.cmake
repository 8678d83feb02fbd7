# Cross-builds for s390x (big-endian Linux) so the byte-order handling can be tested under
# qemu-user. S390X_SYSROOT names a folder where the s390x zlib, OpenSSL and GoogleTest packages
# were unpacked; scripts/test-big-endian prepares it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

if(NOT S390X_SYSROOT)
  set(S390X_SYSROOT "$ENV{S390X_SYSROOT}")
endif()
if(NOT S390X_SYSROOT)
  message(FATAL_ERROR "s390x cross build: set S390X_SYSROOT to the unpacked package folder")
endif()
# try_compile projects read this file again and must see the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES S390X_SYSROOT)

# Libraries and headers come from the cross compiler's own root or from the sysroot; programs
# (code generators, the emulator) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu "${S390X_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The host's .pc files would name the host's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${S390X_SYSROOT}/usr/lib/s390x-linux-gnu/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${S390X_SYSROOT}")

# Debian keeps OpenSSL's configuration headers in the multiarch include folder, which the
# cross compiler does not search by itself.
set(_s390x_libs "${S390X_SYSROOT}/usr/lib/s390x-linux-gnu;${S390X_SYSROOT}/lib/s390x-linux-gnu")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${S390X_SYSROOT}/usr/include/s390x-linux-gnu")
set(CMAKE_C_FLAGS_INIT "-isystem ${S390X_SYSROOT}/usr/include/s390x-linux-gnu")
foreach(_dir IN LISTS _s390x_libs)
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -L${_dir} -Wl,-rpath-link,${_dir}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -L${_dir} -Wl,-rpath-link,${_dir}")
endforeach()

# Test discovery and ctest run the s390x binaries through qemu-user.
string(REPLACE ";" ":" _s390x_ld_path "${_s390x_libs}")
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-s390x -L /usr/s390x-linux-gnu -E "LD_LIBRARY_PATH=${_s390x_ld_path}")
