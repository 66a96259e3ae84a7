# Cross-compiling for arm64 with Debian's aarch64 cross compiler against the arm64 multiarch
# packages (oneTBB, GoogleTest); the programs, test discovery included, run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# The target's libraries come from /usr/lib/aarch64-linux-gnu, where the multiarch packages put
# them and where CMake looks for this architecture; headers without an architecture of their own
# (Boost) are shared with the build machine's packages in /usr/include.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# The arm64 C library of the multiarch packages runs the programs, loader included: the cross
# compiler's copy under /usr/aarch64-linux-gnu may be a different build, and a loader and C library
# of different builds hang at the first thread.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
