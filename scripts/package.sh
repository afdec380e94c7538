#!/usr/bin/env bash
# Builds the Debian packages (halvorin, halvorin-agentd) into build/packages
# and checks them: lintian reports no errors, the menu entry and the AppStream
# metadata validate, and the agent package installs with a unit systemd
# accepts. With --no-install the last check is left out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
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
systemd-analyze verify /usr/lib/systemd/system/halvorin-agentd.service
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
echo "packages: built, checked, the agent installed and its unit verified"
