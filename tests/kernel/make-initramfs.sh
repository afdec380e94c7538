#!/usr/bin/env bash
# Builds the guest's initramfs: busybox, the kernel modules of the SCSI target
# (TCMU behind tcm_loop), sg and virtio networking, sg3-utils, the agent and
# the TCMU bridge with their shared libraries, the scenarios and the guest's
# scripts.
#   make-initramfs.sh KERNEL_ROOT BUILD_DIR OUTPUT
# KERNEL_ROOT is the unpacked kernel package (boot/, lib/modules/).
set -euo pipefail
kernel_root="$1" build="$2" output="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,run,etc,lib64,usr/lib/x86_64-linux-gnu,scenarios}
ln -s usr/lib "$root/lib"

cp /bin/busybox "$root/bin/busybox"
for applet in $("$root/bin/busybox" --list | grep -vx init); do
    [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done

# Programs and every library they load.
programs=("$build/apps/halvorin-agentd" "$build/apps/halvorin-sim-tcmu"
          /usr/bin/sg_ses /usr/bin/sg_inq /usr/bin/sg_turs /usr/bin/sg_requests)
for p in "${programs[@]}"; do cp "$p" "$root/bin/" && strip --strip-unneeded "$root/bin/$(basename "$p")"; done
for lib in $(ldd "${programs[@]}" | awk '$3 ~ /^\// {print $3}' | sort -u); do
    cp -L "$lib" "$root/usr/lib/x86_64-linux-gnu/"
done
cp -L /lib64/ld-linux-x86-64.so.2 "$root/lib64/"

# Modules in load order: each after what it depends on.
modules_dir="$(ls -d "$kernel_root"/lib/modules/*)"
wanted=(virtio_ring virtio virtio_pci virtio_net sg target_core_user tcm_loop)
python3 - "$modules_dir" "${wanted[@]}" >"$root/etc/modules" <<'PY'
import os, re, sys
# Each module names what it needs in its .modinfo ("depends=a,b"), so no
# depmod is needed on the build machine.
modules_dir, wanted = sys.argv[1], sys.argv[2:]
paths = {}
for folder, _, files in os.walk(modules_dir):
    for f in files:
        if f.endswith(".ko"):
            paths[f[:-3].replace("-", "_")] = os.path.relpath(os.path.join(folder, f), modules_dir)
def depends(name):
    data = open(os.path.join(modules_dir, paths[name]), "rb").read()
    found = re.search(rb"\0depends=([^\0]*)\0", data)
    return [d.decode().replace("-", "_") for d in found.group(1).split(b",") if d] if found else []
order = []
def visit(name):
    if name in order: return
    for d in depends(name): visit(d)
    order.append(name)
for name in wanted: visit(name)
for name in order: print(paths[name])
PY
while read -r module; do
    mkdir -p "$root/modules"
    cp "$modules_dir/$module" "$root/modules/"
    echo "/modules/$(basename "$module")"
done <"$root/etc/modules" >"$root/etc/modules.order"
mv "$root/etc/modules.order" "$root/etc/modules"

cp "$source_dir"/sim/scenarios/*.json "$root/scenarios/"
cp "$here"/guest/*.sh "$root/bin/"
cp "$here/guest/init" "$root/init"
chmod +x "$root/init" "$root"/bin/*.sh

(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 >"$output"
