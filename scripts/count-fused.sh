#!/usr/bin/env bash
# Counts the fused multiply-add instructions (fmla, fmls, fmadd, fmsub, fnmadd, fnmsub) in an
# aarch64 binary; prints the count and exits non-zero when there is any.
#   count-fused.sh BINARY
set -euo pipefail
objdump=aarch64-linux-gnu-objdump
command -v "$objdump" >/dev/null 2>&1 || objdump=objdump
count=$("$objdump" -d --no-show-raw-insn "$1" | grep -cE '\s(fmla|fmls|fmadd|fmsub|fnmadd|fnmsub)\s' || true)
echo "$count"
[ "$count" -eq 0 ]
