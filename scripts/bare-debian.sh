#!/usr/bin/env bash
# Tries README.md's two commands the way a new user would, on a bare Debian 12
# made for the purpose: a `debootstrap --variant=minbase bookworm` root used as
# a chroot, a fresh clone of this repository's current commit inside it.
#
#   sudo scripts/bare-debian.sh [--root DIR] [--logs DIR] [--commit REV] [--skip-test]
#
# Phases, each timed (the times and the packages each phase added are written
# to LOGS/summary.txt):
#   debootstrap   the bare system, from the Debian mirror this machine's apt uses
#   test          `bash scripts/test.sh` as root in the clone /root/quorvelan
#   run           a desktop user (qvdesk) with an Xvfb display of their own and a
#                 clone of their own runs `sudo scripts/run.sh`; a minimal system
#                 has no sudo, so this phase installs it (and says so). Then the
#                 same user runs `scripts/run.sh` again without sudo, root runs the
#                 program directly on that user's display, and root runs
#                 `scripts/run.sh` without sudo in the user's tree.
#   install       README's install commands as that user, lintian on the Release
#                 package (when the test phase installed lintian), and the
#                 installed program started by the user, now in its group.
# Screenshots of the window go to LOGS. Not part of the test command: it takes
# the better part of an hour on two cores.
#
# Everything runs in private mount and PID namespaces: when the script ends,
# however it ends, the kernel ends every process started in the chroot and drops
# every mount made for it; the host's mounts are never touched. The chroot
# stays (remove it with rm -rf DIR); it is made anew on the next run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

root=/var/tmp/qv-bare-bookworm
logs=
commit=HEAD
skip_test=
inner=
while (($#)); do
  case $1 in
    --root) root=$2; shift 2 ;;
    --logs) logs=$2; shift 2 ;;
    --commit) commit=$2; shift 2 ;;
    --skip-test) skip_test=1; shift ;;
    --inner) inner=1; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "bare-debian.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
root=$(realpath -m "$root")
logs=$(realpath -m "${logs:-$root.logs}")
say() { echo "bare-debian.sh: $*"; }
die() { say "$*" >&2; exit 1; }

# ------------------------------------------------------------ outside the namespaces
if [[ -z $inner ]]; then
  [[ $(id -u) -eq 0 ]] || die "needs root (debootstrap, chroot, mounts)"
  case $root/ in
    "$top"/*) die "the chroot must live outside the repository ($root)" ;;
    / | /usr/* | /etc/* | /proc/* | /sys/* | /dev/* | /run/*) die "refusing $root as the chroot" ;;
  esac
  for tool in debootstrap unshare git chroot; do
    command -v "$tool" >/dev/null || die "$tool is missing (apt-get install debootstrap git util-linux)"
  done
  rev=$(git -C "$top" rev-parse --verify "$commit^{commit}") || die "no commit $commit"
  # Only a directory this script made is removed.
  if [[ -e $root ]]; then
    [[ -e $root/.qv-bare-debian ]] || die "$root exists and was not made by this script"
    if grep -qs " ${root}[ /]" /proc/self/mounts; then die "something is still mounted under $root"; fi
    rm -rf "$root"
  fi
  rm -rf "$logs"
  mkdir -p "$root" "$logs"
  : >"$root/.qv-bare-debian"
  # --kill-child: if this side is killed, the namespace's first process gets
  # SIGKILL, and with it every process in the namespace.
  exec unshare --mount --pid --fork --propagation private --kill-child \
    "$0" --inner --root "$root" --logs "$logs" --commit "$rev" ${skip_test:+--skip-test}
fi

# ------------------------------------------- inside: first process of a PID namespace
summary=$logs/summary.txt
note() { echo "$*" | tee -a "$summary"; }

cleanup() {
  local rc=$?
  trap - EXIT
  set +e
  # Every other process of this namespace (Xvfb, the program, a test left behind).
  kill -KILL -1 2>/dev/null
  sleep 0.5
  umount -R -l "$root" 2>/dev/null
  if grep -qs " ${root}[ /]" /proc/self/mounts; then say "mounts left under $root" >&2; fi
  note "exit status: $rc"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The mirror this machine's apt uses for bookworm, else Debian's own.
mirror=$(awk '/^URIs:/ {u=$2} /^Suites:/ && / bookworm( |$)/ {print u; exit}' \
  /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[[ -n $mirror ]] || mirror=$(awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' \
  /etc/apt/sources.list 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

phase_start=0
begin() { phase_start=$(date +%s); say "== $1 ($(date -u +%H:%M:%S) UTC)"; }
took() { local s=$(($(date +%s) - phase_start)); note "$(printf '%-44s %3d min %02d s' "$1" $((s / 60)) $((s % 60)))"; }
in_root() { chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
packages() { in_root dpkg-query -W -f '${Package}\n' | sort; }
added() {  # added NAME LABEL: what was installed since the last call, into LOGS/packages.NAME
  packages >"$logs/packages.now"
  comm -13 "$logs/packages.seen" "$logs/packages.now" >"$logs/packages.$1"
  mv "$logs/packages.now" "$logs/packages.seen"
  note "$2: $(wc -l <"$logs/packages.$1") package(s), listed in $logs/packages.$1"
}

note "bare Debian 12 check of $(git -C "$top" log -1 --format='%h %s' "$commit")"
note "chroot $root, mirror $mirror, $(nproc) cores, started $(date -u '+%F %H:%M') UTC"

# ---------------------------------------------------------------- debootstrap
begin debootstrap
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$logs/debootstrap.log" 2>&1 ||
  { tail -n 20 "$logs/debootstrap.log"; die "debootstrap failed"; }
took "debootstrap --variant=minbase bookworm"
: >"$root/.qv-bare-debian"

# The root is a mount point of its own (ip netns makes shared mounts under it).
mount --bind "$root" "$root"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
mount -t tmpfs -o mode=0755,nosuid,nodev run "$root/run"
# A chroot has no init to start services with; packages must not try.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 0755 "$root/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
packages >"$logs/packages.minbase"
cp "$logs/packages.minbase" "$logs/packages.seen"
note "minbase: $(wc -l <"$logs/packages.minbase") packages"

clone() {  # clone DEST: a fresh clone of the commit under test
  git clone -q --no-hardlinks "$top" "$1"
  git -C "$1" checkout -q --detach "$commit"
}

# ---------------------------------------------------------------- the test command
if [[ -z $skip_test ]]; then
  clone "$root/root/quorvelan"
  begin "test command"
  set +e
  in_root CI=true bash -c 'cd /root/quorvelan && bash scripts/test.sh' 2>&1 | tee "$logs/test.log" \
    | grep --line-buffered -E '^(Installing:|== |total: |[0-9]+% tests passed|.*tests? failed|The following tests)'
  test_rc=${PIPESTATUS[0]}
  set -e
  took "test command (bash scripts/test.sh, as root)"
  note "test command exit status: $test_rc"
  note "test command's summary:"
  tail -n 25 "$logs/test.log" | sed 's/^/    /' | tee -a "$summary" >/dev/null
  { grep '^Installing:' "$logs/test.log" || true; } | sed 's/^/    scripts asked for: /' | tee -a "$summary"
  added test "test command installed"
  [[ $test_rc -eq 0 ]] || die "the test command failed (log: $logs/test.log)"
fi

# ---------------------------------------------------------------- the run command
user=qvdesk
display=:42
begin "desktop stand-in"
# The desktop: an X server of the user's own, with an authority only they can read.
in_root bash -c 'export DEBIAN_FRONTEND=noninteractive; apt-get update -qq &&
  apt-get install -y -qq --no-install-recommends sudo xvfb xauth imagemagick >/dev/null' \
  >"$logs/desktop-apt.log" 2>&1 || { tail "$logs/desktop-apt.log"; die "could not install sudo and Xvfb"; }
in_root useradd --create-home --shell /bin/bash "$user"
echo "$user ALL=(ALL:ALL) NOPASSWD: ALL" >"$root/etc/sudoers.d/$user"
chmod 0440 "$root/etc/sudoers.d/$user"
home=/home/$user
clone "$root$home/quorvelan"
in_root chown -R "$user:$user" "$home/quorvelan"
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
in_root runuser -u "$user" -- touch "$home/.Xauthority"
in_root runuser -u "$user" -- xauth -q -f "$home/.Xauthority" add "$display" . "$cookie"
install -d -m 1777 "$root/tmp/.X11-unix"  # root's, as on a real desktop
in_root runuser -u "$user" -- Xvfb "$display" -auth "$home/.Xauthority" -nolisten tcp \
  -screen 0 1280x800x24 >"$logs/xvfb.log" 2>&1 &
for _ in $(seq 100); do [[ -S $root/tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done
[[ -S $root/tmp/.X11-unix/X${display#:} ]] || die "Xvfb did not start"
took "sudo, Xvfb, a user and a clone"
added desktop "desktop stand-in installed (sudo, Xvfb, ImageMagick)"

as_user() {  # a normal login's environment: no sbin on PATH
  in_root runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 \
    PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games \
    DISPLAY="$display" XAUTHORITY="$home/.Xauthority" "$@"
}
# The chroot's /proc was mounted in this PID namespace: it shows the chroot's
# processes only (the host's /proc shows everyone's, other people's programs too).
program_pid() {  # the running program's pid in this namespace, if any
  local p
  for p in "$root"/proc/[0-9]*; do
    [[ $(cat "$p/comm" 2>/dev/null) == quorvelan ]] && { echo "${p##*/}"; return 0; }
  done
  return 1
}
shot() {  # shot NAME: wait for the program, check its rights, screenshot the display
  local pid="" status
  for _ in $(seq 2400); do pid=$(program_pid) && break; sleep 0.5; done  # a first build takes minutes
  [[ -n $pid ]] || die "$1: the program did not start"
  sleep 5  # let it map and paint its window
  status=$(grep -E '^(Uid|CapPrm|CapEff):' "$root/proc/$pid/status" | tr -s '\t ' ' ' | paste -sd ' ')
  note "$1: program running as $(in_root stat -c %U "/proc/$pid"): $status"
  in_root runuser -u "$user" -- env DISPLAY="$display" XAUTHORITY="$home/.Xauthority" \
    import -window root "/tmp/$1.png"
  cp "$root/tmp/$1.png" "$logs/$1.png"
  kill "$pid"
  wait_gone
}
wait_gone() { for _ in $(seq 100); do program_pid >/dev/null || return 0; sleep 0.1; done; }

# window NAME TITLE RUNNER...: RUNNER (as_user or as_root) runs COMMAND in the
# user's clone; the program's window is checked and shot, its log kept.
window() {
  local name=$1 title=$2 job; shift 2
  begin "$title"
  "$@" >"$logs/$name.log" 2>&1 &
  job=$!
  shot "$name"
  wait "$job" || true
  took "$title"
  { grep '^run.sh' "$logs/$name.log" || true; } | sed 's/^/    /' | tee -a "$summary"
}
as_root() {  # root directly, as after su: the user's display, no sudo
  in_root env DISPLAY="$display" XAUTHORITY="$home/.Xauthority" "$@"
}

window run-sudo "sudo scripts/run.sh (build included) to a window" \
  as_user bash -c "cd ~/quorvelan && sudo scripts/run.sh"
added run "run command installed"
window run-again "scripts/run.sh again, without sudo" \
  as_user bash -c "cd ~/quorvelan && scripts/run.sh"

begin "root on the user's display"
set +e
as_root "$home/quorvelan/build/release/app/quorvelan" >"$logs/root-direct.log" 2>&1
rc=$?
set -e
note "root starting the program on $user's display: exit $rc"
sed 's/^/    /' "$logs/root-direct.log" | tee -a "$summary"
[[ $rc -ne 0 && $rc -ne 134 ]] || die "root on another user's display: exit $rc"

in_root touch "$home/quorvelan/app/main.cpp"  # something to rebuild
window run-root "root's scripts/run.sh without sudo in the user's tree" \
  as_root bash -c "cd $home/quorvelan && scripts/run.sh"
foreign=$(in_root find "$home/quorvelan" ! -user "$user" | head -n 5)
note "files in $user's tree not owned by $user: ${foreign:-none}"
[[ -z $foreign ]] || die "root left files of its own in the user's tree"
as_user bash -c "cd ~/quorvelan && cmake --build build/release" >"$logs/user-build.log" 2>&1 ||
  { tail "$logs/user-build.log"; die "$user's own build failed after root's run"; }
note "$user's own cmake --build afterwards: ok"

# README's install commands, then the installed program from the menu's command.
begin "install command"
as_user bash -c "cd ~/quorvelan && cmake --build build/release --target package &&
  sudo apt install -y ./build/release/quorvelan_*.deb && sudo usermod -aG quorvelan $user" \
  >"$logs/install.log" 2>&1 || { tail "$logs/install.log"; die "the install commands failed"; }
took "install commands (package, apt install, usermod)"
if in_root sh -c 'command -v lintian' >/dev/null; then
  set +e
  in_root bash -c "lintian --fail-on error,warning $home/quorvelan/build/release/quorvelan_*.deb" \
    >"$logs/lintian.log" 2>&1
  rc=$?
  set -e
  note "lintian on the Release package: exit $rc, $(grep -c '^[EW]: ' "$logs/lintian.log") error(s) and warning(s)"
  [[ $rc -eq 0 ]] || die "lintian: $(cat "$logs/lintian.log")"
else
  note "lintian not installed here (the test command installs it)"
fi
window installed "the installed program, started by a member of its group" as_user quorvelan
note "finished $(date -u '+%F %H:%M') UTC"
