# Sourced first by the desktop tests that talk to the program over AT-SPI:
# skips the test (exit 77) without the accessibility bus or the Atspi
# bindings, and runs the test again inside a private session bus. Once
# desktop_session.sh is sourced, start_accessibility_bus starts the bus the
# program and the test's script meet on.
atspi_launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$atspi_launcher" ] || { echo "SKIPPED: at-spi2-core is not installed"; exit 77; }
/usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null ||
    { echo "SKIPPED: the Atspi bindings (gir1.2-atspi-2.0) are not installed"; exit 77; }
if [ -z "${HALVORIN_IN_SESSION_BUS:-}" ]; then
    HALVORIN_IN_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

start_accessibility_bus() {
    "$atspi_launcher" --launch-immediately >"$work/bus.log" 2>&1 &
    pids+=($!)
}
