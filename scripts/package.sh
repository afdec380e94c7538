#!/usr/bin/env bash
# Builds the Debian packages (halvorin, halvorin-agentd, halvorin-tools) into
# build/packages and checks them: hardened binaries, lintian reports no
# errors and no hardening tags, the menu entry and the AppStream metadata
# validate, and the service packages install with units systemd accepts, and
# their life as services goes as dh_installsystemd would have it: enabled but
# not started on install, kept on upgrade, masked on remove and gone without
# a trace on purge. With --no-install the last checks are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/configure.sh
cmake --build build
rm -rf build/packages
(cd build && cpack -G DEB -B packages >/dev/null)
ls build/packages/*.deb

lintian_out=$(lintian --fail-on error --tag-display-limit 0 build/packages/*.deb 2>&1) ||
    { echo "$lintian_out"; exit 1; }
echo "$lintian_out" | { ! grep hardening; } || { echo "lintian: hardening tags"; exit 1; }
# Built with the hardened flags: bound at start, position independent,
# fortified functions where the compiler could check them.
for program in halvorin halvorin-agentd halvorinctl halvorin-mkfw; do
    dynamic=$(readelf -W -d "build/apps/$program")
    grep -q 'FLAGS_1.*NOW.*PIE' <<<"$dynamic" ||
        { echo "$program: not linked with -z now as a PIE"; exit 1; }
done
symbols=$(readelf -W --dyn-syms build/apps/halvorinctl)
grep -q '__.*_chk' <<<"$symbols" || { echo "halvorinctl: no fortified calls"; exit 1; }
# The agent alone pulls in no compression, no metrics library, no toolkit.
agent_depends=$(dpkg-deb -f build/packages/halvorin-agentd_*.deb Depends)
case "$agent_depends" in *lzma* | *prometheus* | *civetweb* | *qt6*)
    echo "halvorin-agentd depends on too much: $agent_depends"; exit 1 ;;
esac
desktop-file-validate packaging/org.halvorin.Halvorin.desktop
appstreamcli validate --pedantic --no-net build/packaging/org.halvorin.Halvorin.metainfo.xml

[ "${1:-}" = "--no-install" ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
agent_deb="$(ls "$PWD"/build/packages/halvorin-agentd_*.deb)"
tools_deb="$(ls "$PWD"/build/packages/halvorin-tools_*.deb)"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$agent_deb" "$tools_deb" >/dev/null
trap '$sudo apt-get remove -y -qq --purge halvorin-agentd halvorin-tools >/dev/null' EXIT
# Both run without root: the agent in the group the package made for the
# devices, the exporter with no devices at all.
for service in halvorin-agentd halvorin-exporter; do
    unit=/usr/lib/systemd/system/$service.service
    systemd-analyze verify --man="$(command -v man >/dev/null && echo yes || echo no)" "$unit"
    exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    echo "$service exposure: $exposure"
    awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' || { echo "$service exposure $exposure above 2.0"; exit 1; }
done
getent group halvorin >/dev/null
test -f /usr/lib/udev/rules.d/60-halvorin-agentd.rules
halvorinctl --version
test -f /usr/share/bash-completion/completions/halvorinctl
test -f /usr/share/zsh/vendor-completions/_halvorinctl
test -f /usr/share/doc/halvorin-tools/json/show.schema.json
promtool check rules /usr/share/halvorin/prometheus/rules.yml >/dev/null
python3 -c 'import json,sys; json.load(open(sys.argv[1]))' /usr/share/halvorin/grafana/halvorin-enclosures.json
# The exporter starts as its unit starts it, with the packaged settings
# (the port moved aside, so a check never meets a port in use).
(
    set -a
    . /etc/default/halvorin-exporter
    set +a
    HALVORIN_EXPORTER_LISTEN="127.0.0.1:0"
    # shellcheck disable=SC2086
    timeout 3 /usr/bin/halvorinctl $HALVORIN_EXPORTER_HOSTS metrics \
        --listen "$HALVORIN_EXPORTER_LISTEN" $HALVORIN_EXPORTER_OPTS >/tmp/halvorin-exporter-check.log 2>&1 || true
    cat /tmp/halvorin-exporter-check.log
    grep -q "serving metrics on http://127.0.0.1:" /tmp/halvorin-exporter-check.log
)
# The installed manual pages render without a warning.
if command -v man >/dev/null; then
    for page in halvorinctl.1 halvorin-mkfw.1 halvorin-agentd.8; do
        section=${page##*.}
        warnings=$(man --warnings "/usr/share/man/man$section/$page.gz" 2>&1 >/dev/null)
        [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
    done
fi

# Enabled on install, not started (whom to serve is not configured yet).
wants=/etc/systemd/system/multi-user.target.wants
for service in halvorin-agentd halvorin-exporter; do
    test -L "$wants/$service.service" || { echo "$service was not enabled on install"; exit 1; }
done
# An upgrade (the same packages again) keeps them enabled.
DEBIAN_FRONTEND=noninteractive $sudo dpkg -i "$agent_deb" "$tools_deb" >/dev/null
for service in halvorin-agentd halvorin-exporter; do
    test -L "$wants/$service.service" || { echo "an upgrade disabled $service"; exit 1; }
done
# Removed: the programs go, the configuration stays, the units are masked.
DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq halvorin-agentd halvorin-tools >/dev/null
test ! -e /usr/bin/halvorin-agentd && test -f /etc/default/halvorin-agentd
test ! -e /usr/bin/halvorinctl && test -f /etc/default/halvorin-exporter
# Purged: nothing of them is left.
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq halvorin-agentd halvorin-tools >/dev/null
trap - EXIT
for package in halvorin-agentd halvorin-tools; do
    if dpkg -L $package >/dev/null 2>&1; then echo "dpkg still knows $package"; exit 1; fi
done
left=$(find /etc/systemd /etc/default /var/lib/systemd/deb-systemd-helper-enabled \
    -name '*halvorin*' 2>/dev/null || true)
[ -z "$left" ] || { echo "left after purge: $left"; exit 1; }
echo "packages: built, checked, the agent and the tools installed, enabled, upgraded, removed and purged"
