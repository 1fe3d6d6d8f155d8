#!/usr/bin/env bash
# Builds quorvelan (Release, in build/release) and starts it with the right to
# capture. On a bare Debian 12 run it through sudo from your desktop session
# the first time: it installs the missing Debian packages, gives the built
# program the CAP_NET_RAW capability and starts it as you, not as root. After
# that, run it again without sudo.
#   sudo scripts/run.sh      or, as root (su -):  scripts/run.sh
# Run by root, the build belongs to the tree's owner, never to root.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
bin=$top/build/release/app/quorvelan
say() { echo "run.sh: $*"; }

# The person the program is for: under sudo the invoking user; run by root
# directly, the owner of the tree. Builds run as them, so that later builds of
# their own are not blocked by root-owned files.
desktop_user=
owner=$(stat -c %U "$top")
if [[ $(id -u) -eq 0 ]]; then
  if [[ -n ${SUDO_USER:-} && $SUDO_USER != root ]]; then
    desktop_user=$SUDO_USER
  elif [[ $owner != root && $owner != UNKNOWN ]]; then
    desktop_user=$owner
  fi
fi
as_builder() {
  if [[ -n $desktop_user && $owner == "$desktop_user" ]]; then
    runuser -u "$desktop_user" -- "$@"
  else
    "$@"
  fi
}

say "checking the Debian packages the build needs (scripts/deps.sh)"
scripts/deps.sh

if [[ -n $desktop_user && $owner == "$desktop_user" && -d build ]]; then
  # An older run.sh built here as root; hand those files back (-h: a link is
  # changed itself, never what it points to).
  if [[ -n $(find build -maxdepth 0 -user 0) || ( -d build/release &&
        -n $(find build/release -xdev -user 0 -print -quit) ) ]]; then
    say "handing files root left in build/release back to $desktop_user"
    find build -maxdepth 0 -user 0 -exec chown -h "$desktop_user:" {} +
    [[ ! -d build/release ]] || find build/release -xdev -user 0 -exec chown -h "$desktop_user:" {} +
  fi
fi
say "configuring a Release build in build/release${desktop_user:+ (as $desktop_user)}"
as_builder cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF >/dev/null
say "building (cmake --build build/release -j${QV_JOBS:-$(nproc)})"
as_builder cmake --build build/release -j "${QV_JOBS:-$(nproc)}"
if [[ ! -x $bin ]]; then
  say "the build produced no program at $bin" >&2
  exit 1
fi

# getcap lives in /usr/sbin, which is not on a normal user's PATH.
getcap_tool=
for g in "$(command -v getcap || true)" /usr/sbin/getcap /sbin/getcap; do
  if [[ -n $g && -x $g ]]; then getcap_tool=$g; break; fi
done
has_capability() {
  local out
  if [[ -z $getcap_tool ]]; then
    say "cannot check the program's capability: getcap not found (Debian package libcap2-bin)" >&2
    return 1
  fi
  if ! out=$("$getcap_tool" "$bin" 2>&1); then
    say "getcap $bin failed: $out" >&2
    return 1
  fi
  grep -q 'cap_net_raw[=+]ep' <<<"$out"
}

start_as() {  # start_as USER: the program as that user, on the display this shell has
  local user=$1 uid runtime
  uid=$(id -u "$user")
  runtime=${XDG_RUNTIME_DIR:-}
  [[ -z $runtime && -d /run/user/$uid ]] && runtime=/run/user/$uid
  say "starting $bin as $user (display ${DISPLAY:-${WAYLAND_DISPLAY:-none}})"
  exec runuser -u "$user" -- env \
    ${DISPLAY:+DISPLAY="$DISPLAY"} ${XAUTHORITY:+XAUTHORITY="$XAUTHORITY"} \
    ${WAYLAND_DISPLAY:+WAYLAND_DISPLAY="$WAYLAND_DISPLAY"} ${runtime:+XDG_RUNTIME_DIR="$runtime"} \
    "$bin"
}

if [[ $(id -u) -eq 0 ]]; then
  # Linking writes a new file, which drops the capability: grant it each time.
  say "granting raw capture to the program: setcap cap_net_raw+ep $bin"
  if ! setcap cap_net_raw+ep "$bin"; then
    say "setcap failed (no libcap2-bin, or a file system without extended attributes)" >&2
  fi
  if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
    # A login shell of root's (su -) has no display to start the program on.
    say "the program is ready; start it from the desktop session${desktop_user:+ of $desktop_user} with:"
    say "    $top/scripts/run.sh      (or $bin)"
    exit 0
  fi
  if [[ -n $desktop_user ]] && has_capability &&
     runuser -u "$desktop_user" -- test -x "$bin"; then
    start_as "$desktop_user"
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
run.sh: (it grants the capability to the built program and starts it as you).
run.sh: Without sudo, run as root (su -):  $top/scripts/run.sh
run.sh: then run scripts/run.sh here again. Or grant it yourself, as root:
    setcap cap_net_raw+ep $bin
MSG
exit 1
