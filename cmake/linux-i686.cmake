# The Linux build as 32-bit x86 code: the same engine with 32-bit pointers and sizes, as in the
# Windows product. ctest runs the tests under qemu's user-mode emulator, which works whether or not
# the kernel can run 32-bit code itself. Linked statically, so no 32-bit shared libraries are
# needed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static)
