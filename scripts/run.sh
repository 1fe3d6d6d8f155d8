#!/usr/bin/env bash
# Builds quorvelan (Release, in build/release) and starts it with the right to
# capture. On a bare Debian 12 run it as root, or through sudo from your desktop
# session, the first time: it installs the missing Debian packages, gives the
# built program the CAP_NET_RAW capability and starts it as you, not as root.
#   sudo scripts/run.sh     or, as root:  scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
bin=$top/build/release/app/quorvelan
say() { echo "run.sh: $*"; }

# Under sudo the build belongs to the desktop user, so that later builds of
# their own are not blocked by root-owned files.
desktop_user=
if [[ $(id -u) -eq 0 && -n ${SUDO_USER:-} && $SUDO_USER != root ]]; then
  desktop_user=$SUDO_USER
fi
as_builder() {
  if [[ -n $desktop_user && $(stat -c %U "$top") == "$desktop_user" ]]; then
    runuser -u "$desktop_user" -- "$@"
  else
    "$@"
  fi
}

say "checking the Debian packages the build needs (scripts/deps.sh)"
scripts/deps.sh

say "configuring a Release build in build/release"
as_builder cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF >/dev/null
say "building (cmake --build build/release -j${QV_JOBS:-$(nproc)})"
as_builder cmake --build build/release -j "${QV_JOBS:-$(nproc)}"
if [[ ! -x $bin ]]; then
  say "the build produced no program at $bin" >&2
  exit 1
fi

has_capability() { getcap "$bin" 2>/dev/null | grep -q 'cap_net_raw[=+]ep'; }

if [[ $(id -u) -eq 0 ]]; then
  # Linking writes a new file, which drops the capability: grant it each time.
  say "granting raw capture to the program: setcap cap_net_raw+ep $bin"
  if ! setcap cap_net_raw+ep "$bin"; then
    say "setcap failed (no libcap2-bin, or a file system without extended attributes)" >&2
  fi
  if [[ -n $desktop_user ]] && has_capability &&
     runuser -u "$desktop_user" -- test -x "$bin"; then
    uid=$(id -u "$desktop_user")
    runtime=${XDG_RUNTIME_DIR:-}
    [[ -z $runtime && -d /run/user/$uid ]] && runtime=/run/user/$uid
    say "starting $bin as $desktop_user (display ${DISPLAY:-${WAYLAND_DISPLAY:-none}})"
    exec runuser -u "$desktop_user" -- env \
      ${DISPLAY:+DISPLAY="$DISPLAY"} ${XAUTHORITY:+XAUTHORITY="$XAUTHORITY"} \
      ${WAYLAND_DISPLAY:+WAYLAND_DISPLAY="$WAYLAND_DISPLAY"} ${runtime:+XDG_RUNTIME_DIR="$runtime"} \
      "$bin"
  fi
  # No desktop user to hand over to: root runs it; the program itself keeps
  # only CAP_NET_RAW (and, under sudo, becomes the invoking user).
  say "starting $bin as root"
  exec "$bin"
fi

if has_capability; then
  say "starting $bin (it holds cap_net_raw)"
  exec "$bin"
fi
cat >&2 <<MSG
run.sh: the program is built, but capturing needs the CAP_NET_RAW capability,
run.sh: which this account cannot grant. Run this once from your desktop session:
    sudo $top/scripts/run.sh
run.sh: (it grants the capability to the built program and starts it as you), or grant it yourself:
    sudo setcap cap_net_raw+ep $bin
run.sh: then start it with: $bin
MSG
exit 1
