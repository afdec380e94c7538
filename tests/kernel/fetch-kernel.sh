#!/usr/bin/env bash
# Prints the folder holding Debian's current amd64 kernel package unpacked
# (boot/vmlinuz-*, lib/modules/*), fetching it with apt-get download the first
# time. The cache lives outside the build tree, so clean builds and CI runs on
# a machine that keeps it do not fetch it again.
set -euo pipefail
cache="${HALVORIN_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/halvorin-kernel}"
package="$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')"
[ -n "$package" ] || { echo "fetch-kernel.sh: no linux-image-amd64 in the package lists" >&2; exit 1; }
version="$(apt-cache policy "$package" | awk '/Candidate:/ {print $2}')"
unpacked="$cache/${package}_${version}"
if [ ! -f "$unpacked/.complete" ]; then
    mkdir -p "$cache"
    scratch="$(mktemp -d "$cache/fetch.XXXXXX")"
    trap 'rm -rf "$scratch"' EXIT
    chmod 755 "$scratch"  # apt-get downloads as its own user where it can
    (cd "$scratch" && apt-get download -q "$package=$version") >&2
    mkdir -p "$scratch/root"
    dpkg-deb -x "$scratch"/*.deb "$scratch/root"
    rm -rf "$unpacked"
    touch "$scratch/root/.complete"
    mv "$scratch/root" "$unpacked"
    # Older kernels are of no further use.
    find "$cache" -mindepth 1 -maxdepth 1 -name 'linux-image-*' ! -path "$unpacked" -exec rm -rf {} +
fi
echo "$unpacked"
