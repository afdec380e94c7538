#!/usr/bin/env bash
# The kernel test: fetches Debian's kernel (cached), builds the guest's
# initramfs from BUILD_DIR's agent and TCMU bridge, boots it under QEMU and
# runs the cases (run_cases.py).
#   run.sh BUILD_DIR [--only 1,3]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
shift
kernel_root="$("$here/fetch-kernel.sh")"
work="$build/tests/kernel/run"
initramfs="$build/tests/kernel/initramfs.cpio.gz"
mkdir -p "$work"
"$here/make-initramfs.sh" "$kernel_root" "$build" "$initramfs"
exec python3 "$here/run_cases.py" --kernel "$(ls "$kernel_root"/boot/vmlinuz-*)" \
    --initramfs "$initramfs" --build "$build" --work "$work" "$@"
