# Cross-building for 64-bit Arm Linux on an x86-64 Debian machine (the "arm64" preset): Debian's cross
# compiler, the arm64 libraries installed beside the machine's own through multiarch (scripts/setup arm64),
# and the user-mode emulator that runs the arm64 test programs here.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)


# pkg-config reads the arm64 libraries' .pc files, never the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Qt's build tools (moc, rcc) are the machine's own; the libraries linked are arm64.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# ctest runs every test program (and gtest's test discovery) through the emulator. Programs a test starts
# itself run through the same emulator, registered with the kernel by scripts/setup arm64.
find_program(QW_QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QW_QEMU_AARCH64})
