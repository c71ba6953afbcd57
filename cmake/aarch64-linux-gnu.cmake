# Cross build for aarch64 Linux with Debian's cross compiler (g++-aarch64-linux-gnu).
# Programs that CMake runs for the target, the arm64 interpreter among them, go through
# qemu-aarch64-static. scripts/cross-test.sh passes the interpreter, Eigen and pybind11.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
# Libraries and headers of the target come from Debian's arm64 packages (multiarch),
# the header-only dependencies from the host's development environment.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
