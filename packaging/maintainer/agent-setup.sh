if [ "$1" = "configure" ]; then
    # The group the udev rule gives the enclosure services devices, and the
    # agent's unit joins.
    if ! getent group halvorin >/dev/null; then
        addgroup --system --quiet halvorin
    fi
    if [ -d /run/udev ]; then
        udevadm trigger --subsystem-match=scsi_generic --action=change >/dev/null 2>&1 || true
    fi
fi
