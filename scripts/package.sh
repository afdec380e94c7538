#!/usr/bin/env bash
# Builds the Debian packages (halvorin, halvorin-agentd) into build/packages
# and checks them: lintian reports no errors, the menu entry and the AppStream
# metadata validate, and the agent package installs with a unit systemd
# accepts, and its life as a service goes as dh_installsystemd would have it:
# enabled but not started on install, kept on upgrade, masked on remove and
# gone without a trace on purge. With --no-install the last checks are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/configure.sh
cmake --build build
rm -rf build/packages
(cd build && cpack -G DEB -B packages >/dev/null)
ls build/packages/*.deb

lintian --fail-on error --tag-display-limit 0 build/packages/*.deb
desktop-file-validate packaging/org.halvorin.Halvorin.desktop
appstreamcli validate --no-net build/packaging/org.halvorin.Halvorin.metainfo.xml

[ "${1:-}" = "--no-install" ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
agent_deb="$(ls "$PWD"/build/packages/halvorin-agentd_*.deb)"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$agent_deb" >/dev/null
trap '$sudo apt-get remove -y -qq --purge halvorin-agentd >/dev/null' EXIT
unit=/usr/lib/systemd/system/halvorin-agentd.service
systemd-analyze verify --man="$(command -v man >/dev/null && echo yes || echo no)" "$unit"
# It runs without root, in the group the package made for the devices.
exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*exposure level for [^:]*: \([0-9.]*\).*/\1/p')
echo "unit exposure: $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' || { echo "unit exposure $exposure above 2.0"; exit 1; }
getent group halvorin >/dev/null
test -f /usr/lib/udev/rules.d/60-halvorin-agentd.rules
halvorinctl --version
test -f /usr/share/bash-completion/completions/halvorinctl
test -f /usr/share/zsh/vendor-completions/_halvorinctl
test -f /usr/share/doc/halvorin-agentd/json/show.schema.json
# The installed manual pages render without a warning.
if command -v man >/dev/null; then
    for page in halvorinctl.1 halvorin-mkfw.1 halvorin-agentd.8; do
        section=${page##*.}
        warnings=$(man --warnings "/usr/share/man/man$section/$page.gz" 2>&1 >/dev/null)
        [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
    done
fi

# Enabled on install, not started (the managers are not named yet).
wants=/etc/systemd/system/multi-user.target.wants/halvorin-agentd.service
test -L "$wants" || { echo "the unit was not enabled on install"; exit 1; }
# An upgrade (the same package again) keeps it enabled.
DEBIAN_FRONTEND=noninteractive $sudo dpkg -i "$agent_deb" >/dev/null
test -L "$wants" || { echo "an upgrade disabled the unit"; exit 1; }
# Removed: the programs go, the configuration stays, the unit is masked.
DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq halvorin-agentd >/dev/null
test ! -e /usr/bin/halvorin-agentd && test -f /etc/default/halvorin-agentd
# Purged: nothing of it is left.
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq halvorin-agentd >/dev/null
trap - EXIT
if dpkg -L halvorin-agentd >/dev/null 2>&1; then echo "dpkg still knows the package"; exit 1; fi
left=$(find /etc/systemd /etc/default /var/lib/systemd/deb-systemd-helper-enabled \
    -name '*halvorin*' 2>/dev/null || true)
[ -z "$left" ] || { echo "left after purge: $left"; exit 1; }
echo "packages: built, checked, the agent installed, enabled, upgraded, removed and purged"
