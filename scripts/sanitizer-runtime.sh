#!/usr/bin/env bash
# Prints the libraries that a Python run of the AddressSanitizer build must preload, for
# the C++ compiler that built it (CXX, default c++): GCC's libasan with its libstdc++, or
# Clang's libclang_rt.asan. Stops with a message when the compiler has neither.
set -euo pipefail
cxx=${CXX:-c++}
gcc_asan=$("$cxx" -print-file-name=libasan.so)
if [ -f "$gcc_asan" ]; then
    echo "$gcc_asan $("$cxx" -print-file-name=libstdc++.so.6)"
    exit 0
fi
clang_asan=$("$cxx" -print-file-name="libclang_rt.asan-$(uname -m).so")
if [ -f "$clang_asan" ]; then
    echo "$clang_asan"
    exit 0
fi
echo "error: $cxx has no AddressSanitizer runtime (GCC: libasan; Clang: libclang_rt.asan);" \
     "install it (Debian: apt-get install libasan8, or libclang-rt-dev for clang)" >&2
exit 1
