#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Does nothing when they are all present already.
#   scripts/deps.sh            building and running
#   scripts/deps.sh --test     and the tests and benchmarks
#   scripts/deps.sh --bench    and the tests, plus tshark for the live benchmark and
#                              Wireshark's window, xdotool and python3 for bench/gui-peers,
#                              trayer and dunst for its desktop (--features)
set -euo pipefail

# dpkg-dev and file: the package target (cpack's dpkg-shlibdeps) needs them.
# libloc-dev, libloc1, libloc-database, iso-codes: where an address is (country and
# network, offline) and country names in Chinese.
build_pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
            libpcap-dev libcap-dev libcap2-bin libsqlite3-dev fonts-wqy-microhei qt6-translations-l10n
            dpkg-dev file libloc-dev libloc1 libloc-database iso-codes)
# dbus (dbus-run-session), dunst, trayer and x11-utils (xwininfo): the desktop test's own
# session bus, notification daemon, tray and view of the X window tree.
test_pkgs=(libgtest-dev libbenchmark-dev clang libclang-rt-14-dev iproute2 tcpdump lintian
           xvfb xauth x11-apps x11-utils imagemagick librsvg2-bin desktop-file-utils appstream dbus-daemon
           dbus dunst trayer openssl)
bench_pkgs=(tshark wireshark-qt xdotool python3)

want=("${build_pkgs[@]}")
case "${1:-}" in
  --test) want+=("${test_pkgs[@]}") ;;
  --bench) want+=("${test_pkgs[@]}" "${bench_pkgs[@]}") ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]} " == *" tshark "* || " ${missing[*]} " == *" wireshark-qt "* ]]; then
    # Otherwise wireshark-common asks whether normal users may capture.
    echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
