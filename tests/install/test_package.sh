#!/usr/bin/env bash
# Package test: build the .deb from a finished build, install it, check the
# group, owner, mode and capability it sets up, that group members capture and
# outsiders cannot run it, that the running program holds no effective
# capability, then purge it and check nothing is left.
#   test_package.sh BUILD_DIR SOURCE_DIR
# Exit 77 (skipped) without root or without the program target.
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
source_dir=$(cd "${2:?source dir}" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "needs root (dpkg -i, users, groups)"
[[ -f $build/CPackConfig.cmake ]] || skip "no program target in this build, nothing to package"
for tool in dpkg dpkg-deb cpack getcap setpriv useradd groupadd desktop-file-validate appstreamcli lintian; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh --test)"
done
if dpkg-query -W -f='${Status}' quorvelan 2>/dev/null | grep -q "ok installed"; then
  skip "a quorvelan package is installed already; not touching it"
fi

BIN=/usr/bin/quorvelan
GROUP=quorvelan
MEMBER=qvpkgin
OUTSIDER=qvpkgout
NET_RAW=0000000000002000
NONE=0000000000000000
failures=0
work=$(mktemp -d /tmp/qv-package-XXXXXX)
chmod 0755 "$work"
app_pid=

pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@" >"$work/out" 2>&1; then pass "$what"; else fail "$what"; sed 's/^/     | /' "$work/out"; fi
}

cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  dpkg-query -W quorvelan >/dev/null 2>&1 && dpkg_locked --purge quorvelan >/dev/null 2>&1
  for u in "$MEMBER" "$OUTSIDER"; do
    id "$u" >/dev/null 2>&1 || continue
    # Once the user is gone, whatever they left would belong to nobody known.
    find /tmp /var/tmp -xdev -maxdepth 1 -user "$u" -exec rm -rf {} + 2>/dev/null
    userdel "$u"
  done
  [[ -n ${made_group:-} ]] && getent group "$GROUP" >/dev/null && groupdel "$GROUP"
  rm -rf "$work"
}
trap cleanup EXIT

# Other work on the machine may hold dpkg's lock for a while.
dpkg_locked() {
  local tries=0 rc
  while :; do
    dpkg "$@" >"$work/dpkg.log" 2>&1 && { cat "$work/dpkg.log"; return 0; }
    rc=$?
    if grep -q "lock" "$work/dpkg.log" && ((tries++ < 60)); then sleep 2; continue; fi
    cat "$work/dpkg.log"
    return $rc
  done
}

# The capability masks of one /proc status file, as "CapPrm CapEff".
masks() { awk '/^CapPrm:/ {p=$2} /^CapEff:/ {e=$2} END {print p, e}' "$1"; }

# A runtime folder of the user's own inside $work: without one Qt makes
# /tmp/runtime-USER, which would outlive the user.
runtime_of() {
  local dir=$work/runtime-$1
  [[ -d $dir ]] || { mkdir -m 0700 "$dir" && chown "$1:" "$dir"; }
  echo "$dir"
}
as_user() {  # as_user NAME COMMAND...: the user's own ids and groups, nothing else
  local user=$1; shift
  setpriv --reuid "$user" --regid "$(id -g "$user")" --init-groups \
    env HOME="$work" XDG_RUNTIME_DIR="$(runtime_of "$user")" QT_QPA_PLATFORM=offscreen \
    ASAN_OPTIONS=detect_leaks=0 "$@"
}

# ---------------------------------------------------------------- the .deb
echo "== building the package"
if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb") >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; echo "FAIL cpack -G DEB"; exit 1
fi
deb=$(ls "$work"/deb/quorvelan_*.deb 2>/dev/null | head -n 1)
[[ -f $deb ]] || { echo "FAIL no .deb produced"; cat "$work/cpack.log"; exit 1; }
pass "built $(basename "$deb")"

# Read once into files: a dpkg-deb cut short by a closed pipe (grep -q) leaves
# its folder in /tmp.
dpkg-deb -I "$deb" >"$work/info"
dpkg-deb -c "$deb" >"$work/listing"
dpkg-deb -x "$deb" "$work/contents"

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
check "package version is the project version ($version)" \
  test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "newest metainfo release is the package version" \
  grep -q "<release version=\"$version\"" "$source_dir/packaging/io.github.quorvelan.metainfo.xml"
check "architecture is dpkg's" test "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 qt6-qpa-plugins libpcap0.8 libcap2 libcap2-bin fonts-wqy-microhei \
         qt6-translations-l10n; do
  check "depends on $p" grep -Eq "(^|, )$p( |,|$)" <<<"$depends"
done
check "maintainer scripts are executable" \
  bash -c "grep -Eq '^ +[0-9]+ bytes, +[0-9]+ lines +\\* +postinst' '$work/info' &&
           grep -Eq '^ +[0-9]+ bytes, +[0-9]+ lines +\\* +postrm' '$work/info'"
# The file itself ships plain; only postinst may narrow it and add the capability.
check "binary ships as root:root 0755, not setuid" \
  bash -c "grep -E ' \\./usr/bin/quorvelan$' '$work/listing' | grep -q '^-rwxr-xr-x root/root '"
# Its temporary files go with $work.
TMPDIR=$work lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1
rc=$?
check "lintian reports no error or warning (exit $rc)" \
  bash -c "[[ $rc -eq 0 ]] && ! grep -q '^[EW]: ' '$work/lintian'"
grep '^[EW]: ' "$work/lintian" | sed 's/^/     | /'
doc=$work/contents/usr/share/doc/quorvelan
check "machine-readable copyright file" \
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright"
check "changelog's newest entry is the package version" \
  bash -c "zcat '$doc/changelog.gz' | head -n 1 | grep -q '^quorvelan ($version) '"
awk '{print $NF}' "$work/listing" | sed 's|^\./|/|; s|/$||' | grep -vx '/\|/usr\|/usr/bin\|/usr/share' \
  >"$work/files"

# ----------------------------------------------------------- install, fresh
run_installed_checks() {
  check "group $GROUP exists" getent group "$GROUP"
  check "binary is root:$GROUP 0750" test "$(stat -c '%U:%G %a' "$BIN")" = "root:$GROUP 750"
  check "binary carries cap_net_raw=ep and nothing else" \
    bash -c "getcap '$BIN' | grep -Eq '^$BIN (= ?)?cap_net_raw[=+]ep$'"
  check "no setuid or setgid bit" test ! -u "$BIN" -a ! -g "$BIN"
}

echo "== installing (group made by the package)"
made_group=
if getent group "$GROUP" >/dev/null; then
  skip "group $GROUP exists already on this machine; the test needs it absent"
fi
if ! dpkg_locked -i "$deb" >"$work/install.log" 2>&1; then
  cat "$work/install.log"; echo "FAIL dpkg -i"; exit 1
fi
pass "dpkg -i"
getent group "$GROUP" >/dev/null && made_group=  # the package owns it from here on
run_installed_checks
check "postinst says how to add users" grep -q "usermod -aG $GROUP" "$work/install.log"

check "desktop entry validates" desktop-file-validate /usr/share/applications/quorvelan.desktop
check "desktop entry starts quorvelan from the Network menu" \
  bash -c "grep -qx 'Exec=quorvelan' /usr/share/applications/quorvelan.desktop &&
           grep -qx 'Categories=Network;Monitor;' /usr/share/applications/quorvelan.desktop &&
           grep -qx 'Icon=quorvelan' /usr/share/applications/quorvelan.desktop"
check "metainfo validates" appstreamcli validate --no-net /usr/share/metainfo/io.github.quorvelan.metainfo.xml
for size in 16 32 48 128; do
  icon=/usr/share/icons/hicolor/${size}x${size}/apps/quorvelan.png
  check "icon ${size}x${size}" bash -c "file '$icon' | grep -q 'PNG image data, $size x $size'"
done
check "manual page installed" bash -c "zcat /usr/share/man/man1/quorvelan.1.gz | grep -q '^\\.TH QUORVELAN 1'"

# ------------------------------------------------------------ who may run it
useradd --system --no-create-home --shell /usr/sbin/nologin --groups "$GROUP" "$MEMBER"
useradd --system --no-create-home --shell /usr/sbin/nologin "$OUTSIDER"

as_user "$OUTSIDER" "$BIN" --capability-self-test >"$work/outsider" 2>&1
rc=$?
check "a user outside the group cannot execute the binary (exit $rc)" \
  bash -c "[[ $rc -eq 126 ]] && grep -qi 'permission denied' '$work/outsider'"

as_user "$MEMBER" "$BIN" --capability-self-test >"$work/member" 2>&1
rc=$?
sed 's/^/     | /' "$work/member"
check "group member's self-test passes" test "$rc" -eq 0
check "outside an open: CAP_NET_RAW permitted only, no raw socket" \
  grep -q "^outside: CapPrm=$NET_RAW CapEff=$NONE raw-socket=denied" "$work/member"
check "inside an open: CAP_NET_RAW effective, raw socket opens" \
  grep -q "^inside: CapPrm=$NET_RAW CapEff=$NET_RAW raw-socket=ok" "$work/member"
check "after the open: lowered again" \
  grep -q "^after: CapPrm=$NET_RAW CapEff=$NONE raw-socket=denied" "$work/member"

# Root through sudo: becomes the invoking user, keeps only the one capability.
member_uid=$(id -u "$MEMBER")
env SUDO_UID="$member_uid" SUDO_GID="$(id -g "$MEMBER")" SUDO_USER="$MEMBER" HOME="$work" \
  ASAN_OPTIONS=detect_leaks=0 "$BIN" --capability-self-test >"$work/sudo" 2>&1
rc=$?
check "started by root via sudo: passes as the invoking user" \
  bash -c "[[ $rc -eq 0 ]] && grep -q '^status: uid $member_uid euid $member_uid ' '$work/sudo' &&
           grep -q '^inside: CapPrm=$NET_RAW CapEff=$NET_RAW raw-socket=ok' '$work/sudo'"

# Root starting it directly on a member's display cannot read their X
# authority once it keeps only CAP_NET_RAW: told what to run instead, no abort.
mkdir -m 0700 "$work/member-session"
: >"$work/member-session/Xauthority"
chmod 0600 "$work/member-session/Xauthority"
chown -R "$MEMBER:" "$work/member-session"
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY=:97 XAUTHORITY="$work/member-session/Xauthority" \
  HOME="$work" ASAN_OPTIONS=detect_leaks=0 "$BIN" >"$work/root-display" 2>&1
rc=$?
check "root on a member's display: exits 1 saying to start it through sudo (exit $rc)" \
  bash -c "[[ $rc -eq 1 ]] && grep -q 'sudo $BIN' '$work/root-display' &&
           grep -q 'runuser -u $MEMBER -- $BIN' '$work/root-display'"

# The program as a member starts it: once it is up, no thread of it may hold
# an effective capability or any permitted one but CAP_NET_RAW.
# exec: the background job's pid is then the program's own.
(exec setpriv --reuid "$MEMBER" --regid "$(id -g "$MEMBER")" --init-groups \
   env HOME="$work" XDG_RUNTIME_DIR="$(runtime_of "$MEMBER")" QT_QPA_PLATFORM=offscreen \
   ASAN_OPTIONS=detect_leaks=0 "$BIN") >"$work/running" 2>&1 &
app_pid=$!
sleep 3
if kill -0 "$app_pid" 2>/dev/null; then
  bad=
  for status in /proc/"$app_pid"/task/*/status; do
    read -r prm eff < <(masks "$status")
    [[ $eff == "$NONE" && ( $prm == "$NONE" || $prm == "$NET_RAW" ) ]] || bad+=" ${status#/proc/}: CapPrm=$prm CapEff=$eff"
  done
  check "running program: every thread CapEff 0, CapPrm at most CAP_NET_RAW" test -z "$bad"
  [[ -n $bad ]] && echo "    $bad"
  kill "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
else
  fail "running program exited within 3 s"
  sed 's/^/     | /' "$work/running"
fi
app_pid=

# -------------------------------------------------------------- purge
echo "== purging"
check "dpkg --purge" dpkg_locked --purge quorvelan
check "package gone" bash -c "! dpkg-query -W -f='\${Status}' quorvelan 2>/dev/null | grep -q installed"
check "group removed" bash -c "! getent group '$GROUP'"
check "no package state left in /var/lib/quorvelan" test ! -e /var/lib/quorvelan
# Files must be gone; a directory may stay only if another package owns it
# or something else lives in it.
left=$(while read -r f; do
  if [[ -d $f ]]; then
    [[ -z $(ls -A "$f") ]] && ! dpkg -S "$f" >/dev/null 2>&1 && echo "$f (empty directory)"
  elif [[ -e $f || -L $f ]]; then
    echo "$f"
  fi
done <"$work/files")
check "no installed file left" test -z "$left"
[[ -n $left ]] && echo "$left" | sed 's/^/     | /'

# ------------------------------------------- install over an existing group
echo "== installing into a group the administrator made"
groupadd --system "$GROUP"
made_group=1
if dpkg_locked -i "$deb" >"$work/install2.log" 2>&1; then
  pass "dpkg -i with the group present"
  run_installed_checks
  check "dpkg --purge" dpkg_locked --purge quorvelan
  check "purge keeps a group it did not make" getent group "$GROUP"
else
  cat "$work/install2.log"; fail "dpkg -i with the group present"
fi

echo
if ((failures)); then echo "$failures check(s) failed"; exit 1; fi
echo "all package checks passed"
