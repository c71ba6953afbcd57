#!/usr/bin/env bash
# Installs the system packages the build needs (Eigen 3.4, GoogleTest) when they
# are missing: through apt-get when running as root, otherwise with a clear message.
set -euo pipefail

missing=()
[ -f /usr/include/eigen3/Eigen/Core ] || missing+=(libeigen3-dev)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v c++ >/dev/null 2>&1 || missing+=(g++)
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing system packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "error: missing system packages: ${missing[*]}" >&2
    echo "install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
