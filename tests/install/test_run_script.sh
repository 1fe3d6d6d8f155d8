#!/usr/bin/env bash
# scripts/run.sh as the people who run it: a normal user whose PATH has no
# sbin, root through sudo, root directly in a tree a user owns. A copy of the
# script runs in a scratch tree owned by `nobody`, with cmake and the package
# check stood in for (the build is what cmake's own tests are for): the stand-in
# "program" prints who it runs as.
#   test_run_script.sh SOURCE_DIR
# Exit 77 (skipped) without root.
set -uo pipefail
source_dir=$(cd "${1:?source dir}" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "needs root (setcap, other users)"
for tool in setcap setpriv runuser; do
  command -v "$tool" >/dev/null || [[ -x /usr/sbin/$tool || -x /sbin/$tool ]] ||
    skip "$tool is not installed"
done
user=nobody
group=$(id -gn "$user")
uid=$(id -u "$user")

failures=0
work=$(mktemp -d /tmp/qv-runsh-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
tree=$work/tree
fake=$work/bin
bin=$tree/build/release/app/quorvelan
mkdir -p "$tree/scripts" "$fake"
cp "$source_dir/scripts/run.sh" "$tree/scripts/run.sh"
printf '#!/bin/sh\nexit 0\n' >"$tree/scripts/deps.sh"
cat >"$fake/cmake" <<'EOF'
#!/bin/sh
# Configure makes the build directory; a build makes the program once.
case "$1" in
  -S) mkdir -p build/release && : >build/release/CMakeCache.txt ;;
  --build)
    mkdir -p build/release/app
    [ -e build/release/app/quorvelan ] ||
      printf '#!/bin/sh\necho "program: uid=$(id -u) display=${DISPLAY:-none}"\n' >build/release/app/quorvelan
    chmod 0755 build/release/app/quorvelan ;;
esac
EOF
chmod 0755 "$tree/scripts/run.sh" "$tree/scripts/deps.sh" "$fake/cmake"
chown -R "$user:$group" "$tree"

pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
# expect DESCRIPTION RC PATTERN: the last run's exit status and a line of its output
expect() {
  if [[ $rc -eq $2 ]] && grep -Eq -- "$3" "$work/out"; then
    pass "$1"
  else
    fail "$1 (exit $rc, wanted $2 and /$3/)"
    sed 's/^/     | /' "$work/out"
  fi
}
# A normal Debian user's PATH: no /usr/sbin, no /sbin.
user_path=$fake:/usr/local/bin:/usr/bin:/bin
as_root() { (cd / && env -i PATH="$fake:/usr/sbin:/usr/bin:/sbin:/bin" "$@" "$tree/scripts/run.sh") >"$work/out" 2>&1; rc=$?; }
as_user() {
  (cd / && setpriv --reuid "$uid" --regid "$(id -g "$user")" --clear-groups \
    env -i PATH="$user_path" HOME="$work" DISPLAY=:77 "$tree/scripts/run.sh") >"$work/out" 2>&1
  rc=$?
}
root_files() { find "$tree" -user 0 | sed "s|^$tree/||" | head -n 5; }

# An earlier run.sh built here as root.
mkdir -p "$tree/build/release"
: >"$tree/build/release/left-by-root.o"

as_root
expect "root without sudo and without a display: builds, grants, says how to start" \
  0 "start it from the desktop session of $user"
left=$(root_files)
if [[ -z $left ]]; then pass "root's run leaves nothing of root's in the user's tree"; else
  fail "root's run leaves files of root's in the user's tree: $left"; fi
if getcap "$bin" | grep -q 'cap_net_raw[=+]ep'; then pass "the program carries cap_net_raw+ep"; else
  fail "no capability on the program: $(getcap "$bin")"; fi

as_user
expect "the user again, without sudo and without sbin on PATH: starts it" 0 "^program: uid=$uid "

as_root DISPLAY=:77
expect "root without sudo on a display: starts it as the tree's owner" 0 "^program: uid=$uid display=:77"

as_root DISPLAY=:77 SUDO_USER="$user" SUDO_UID="$uid"
expect "root through sudo: starts it as the invoking user" 0 "^program: uid=$uid display=:77"

setcap -r "$bin"
as_user
expect "the user without the capability: told to run it through sudo, or as root" \
  1 "sudo $tree/scripts/run.sh"
grep -q "Without sudo, run as root" "$work/out" && pass "and what to do without sudo" ||
  fail "no advice for a system without sudo"

chown -R root:root "$tree"
as_root DISPLAY=:77
expect "root in its own tree: runs it as root" 0 "^program: uid=0 display=:77"

echo
if ((failures)); then echo "$failures check(s) failed"; exit 1; fi
echo "all run.sh checks passed"
