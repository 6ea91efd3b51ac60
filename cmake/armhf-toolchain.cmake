# Cross-building for Debian armhf (32-bit ARM, hard float) with Debian's cross
# compiler (g++-arm-linux-gnueabihf) against the :armhf multiarch packages in
# /usr/lib/arm-linux-gnueabihf. Test binaries run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# pkg-config reads only the armhf .pc files (and the architecture-independent
# ones), never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The emulator runs ARM programs with the armhf multiarch C library and
# libraries under / (-L /). The cross toolchain's own copy of the C library in
# /usr/arm-linux-gnueabihf must not be mixed with them.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;/)
