#!/usr/bin/env bash
# Installs what the aarch64 cross build and its emulated run need, through apt-get when
# running as root, otherwise it names the packages and stops:
#   the cross compiler (g++-aarch64-linux-gnu), the arm64 CPython 3.11 headers and
#   libraries with the arm64 C and C++ runtimes (after `dpkg --add-architecture arm64`),
#   and qemu-aarch64-static to run them.
# Debian's arm64 interpreter cannot be installed beside the native one, so its package is
# unpacked into WORK/root (default build/cross/root), with a link to the standard library
# under /usr/lib/python3.11 (whose compiled modules libpython3.11-stdlib:arm64 installs
# beside the native ones). Rooted there, it sees none of Debian's native packages, and it
# can make virtual environments. WORK/python3.11-aarch64 runs it under qemu, with
# VEXA_CROSS_PYTHONPATH on its path.
#   ensure-cross-deps.sh [WORK]
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(realpath -m "${1:-build/cross}")
dest=$work/root

packages=(g++-aarch64-linux-gnu qemu-user-static
          libpython3.11-dev:arm64 libpython3.11-stdlib:arm64
          libgomp1:arm64 libstdc++6:arm64 libc6:arm64)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "error: missing packages for the aarch64 cross build: ${missing[*]}" >&2
        echo "install them with: sudo dpkg --add-architecture arm64 && sudo apt-get update &&" \
             "sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing the aarch64 cross build's packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# The arm64 interpreter itself, unpacked (not installed) from Debian's package.
if [ ! -x "$dest/usr/bin/python3.11" ]; then
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "error: apt-get is needed to fetch python3.11-minimal:arm64" >&2
        exit 1
    fi
    mkdir -p "$dest/debs"
    (cd "$dest/debs" && apt-get download python3.11-minimal:arm64 >/dev/null)
    dpkg-deb -x "$dest"/debs/python3.11-minimal_*_arm64.deb "$dest"
fi
ln -sfn /usr/lib/python3.11 "$dest/usr/lib/python3.11"
cat > "$work/python3.11-aarch64" <<WRAPPER
#!/bin/sh
PYTHONPATH="\${VEXA_CROSS_PYTHONPATH:-}\${PYTHONPATH:+:\$PYTHONPATH}" \\
    exec qemu-aarch64-static -L / "$dest/usr/bin/python3.11" "\$@"
WRAPPER
chmod +x "$work/python3.11-aarch64"
echo "aarch64 toolchain ready: $(aarch64-linux-gnu-g++ --version | head -1); $(qemu-aarch64-static --version | head -1)"
