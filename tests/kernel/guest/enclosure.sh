#!/bin/sh
# Puts a simulated enclosure's SES devices on the guest's SCSI bus, or takes
# one away again, through the kernel target's configfs:
#   enclosure.sh add N DEVICES     backstores halvorin/N/0.., one tcm_loop
#                                  target each, each LUN linked
#   enclosure.sh unlink N D        unlinks the LUN of device D of scenario N
#   enclosure.sh link N D          links it again
set -e
T=/sys/kernel/config/target
backstore() { echo "$T/core/user_1/enc$1_$2"; }
target() { printf '%s/loopback/naa.50014050000%02x%03x/tpgt_1\n' "$T" "$1" "$2"; }

add_device() {
    b="$(backstore "$1" "$2")"
    mkdir -p "$b"
    echo -n "dev_config=halvorin/$1/$2" >"$b/control"
    echo -n "dev_size=1048576" >"$b/control"
    # The agent's own timeout decides; TCMU's timer would race it.
    echo 0 >"$b/attrib/cmd_time_out"
    echo 1 >"$b/attrib/tmr_notification"
    echo 1 >"$b/enable"
    t="$(target "$1" "$2")"
    mkdir -p "$t/lun"
    echo -n "$(basename "$(dirname "$t")")" >"$t/nexus"  # before any LUN
}

link() {
    t="$(target "$1" "$2")"
    mkdir -p "$t/lun/lun_0"
    ln -s "$(backstore "$1" "$2")" "$t/lun/lun_0/enclosure"
}

unlink_lun() {
    t="$(target "$1" "$2")"
    rm "$t/lun/lun_0/enclosure"
    rmdir "$t/lun/lun_0"
}

case "$1" in
    add)
        d=0
        while [ "$d" -lt "$3" ]; do add_device "$2" "$d"; d=$((d + 1)); done
        # Commands the scan sends before the bridge attaches wait in the ring.
        d=0
        while [ "$d" -lt "$3" ]; do link "$2" "$d"; d=$((d + 1)); done
        ;;
    unlink) unlink_lun "$2" "$3" ;;
    link) link "$2" "$3" ;;
    *) echo "usage: enclosure.sh add N DEVICES | unlink N D | link N D" >&2; exit 2 ;;
esac
