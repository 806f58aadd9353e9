#!/usr/bin/env bash
# The package on a fresh Debian 12: a minimal root made with debootstrap, the
# .deb installed there with apt (so its computed dependencies must be
# complete), the console started under Xvfb from its installed path and from
# its desktop entry and connected to the installed simulator, then the package
# purged and the root compared with its state before. Needs root, network and
# a few minutes, so CI does not run it.
#   sudo scripts/fresh-install-trial.sh build/rolta_<version>_amd64.deb [ROOT]
# ROOT (default /tmp/fresh) is made when missing and reused otherwise.
# Screenshots and logs go to $TRIAL_OUT (default /tmp/rolta-trial).
set -euo pipefail
deb=$(realpath "${1:?the .deb to try}")
root=${2:-/tmp/fresh}
out=${TRIAL_OUT:-/tmp/rolta-trial}
mirror=${MIRROR:-$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p;s/^deb \(\[[^]]*\] \)\?\(http[^ ]*\) bookworm .*/\2/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n1 || true)}
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 1; }
mkdir -p "$out"
fail() { echo "fresh-install-trial: $*" >&2; exit 1; }
step() { echo; echo "== $*"; }

if [ ! -x "$root/usr/bin/apt-get" ]; then
  command -v debootstrap >/dev/null || apt-get install -y --no-install-recommends debootstrap
  step "debootstrap --variant=minbase bookworm $root $mirror"
  debootstrap --variant=minbase bookworm "$root" "$mirror"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

# /proc, a pty namespace of the root's own for the simulator, shared memory for X.
mounted=()
mount_in() { mount "$@"; mounted=("${@: -1}" "${mounted[@]}"); }
cleanup() {
  for pid in $(cat "$root/tmp/trial-pids" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  sleep 0.5
  for dir in "${mounted[@]}"; do umount -l "$dir" 2>/dev/null || true; done
}
trap cleanup EXIT
mount_in -t proc proc "$root/proc"
mount_in -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
mount_in --bind "$root/dev/pts/ptmx" "$root/dev/ptmx"
mkdir -p "$root/dev/shm"
mount_in -t tmpfs shm "$root/dev/shm"
: >"$root/tmp/trial-pids"

# Commands in the root, with a clean environment as a login would give.
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}
# Starts a program in the background in the root; its pid is kept for the end.
start_in_root() {
  in_root sh -c 'cd /root && "$@" >>/tmp/trial-bg.log 2>&1 & echo $! >>/tmp/trial-pids' sh "$@"
}
# Every file of the root but the ones apt, the kernel and the trial touch.
files_of_root() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./sys -o -path ./tmp -o -path ./run \
     -o -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./var/cache -o -path ./var/log \
     -o -path ./etc/resolv.conf -o -path ./etc/ld.so.cache \) -prune -o -print | sort)
}
screenshot() {  # name: the Xvfb frame buffer as a PNG (an XWD file when there is no convert)
  sleep 2
  if command -v convert >/dev/null; then
    convert "xwd:$root/tmp/xvfb/Xvfb_screen0" "$out/$1.png" && echo "screenshot $out/$1.png"
  else
    cp "$root/tmp/xvfb/Xvfb_screen0" "$out/$1.xwd" && echo "screenshot $out/$1.xwd"
  fi
}

step "apt-get update; apt install ./$(basename "$deb") (without recommends: the Depends alone must do)"
cp "$deb" "$root/tmp/"
in_root apt-get update -q
files_of_root >"$out/files-before"
in_root apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")"

step "every program, library and Qt platform plugin loads with what apt installed"
missing=$(in_root sh -c 'for f in /usr/bin/rolta /usr/bin/rolta-cli /usr/bin/qrx5000b-sim /usr/lib/rolta/*.so \
    /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/*.so; do ldd "$f" | sed -n "s|^|$f: |;/not found/p"; done')
[ -z "$missing" ] || fail "libraries not installed: $missing"
for program in rolta rolta-cli qrx5000b-sim; do in_root "$program" --version; done
[ -n "$(in_root find /usr/share/fonts \( -iname '*wqy*' -o -iname '*cjk*' \))" ] || fail "no font for the Chinese texts"

step "Xvfb and xdotool for the trial"
in_root apt-get install -y -q --no-install-recommends xvfb xdotool
mkdir -p "$root/tmp/xvfb"
start_in_root Xvfb :99 -screen 0 1280x900x24 -fbdir /tmp/xvfb -nolisten tcp
for _ in $(seq 50); do [ -e "$root/tmp/.X11-unix/X99" ] && break; sleep 0.2; done
start_in_root qrx5000b-sim --link /tmp/ttyQRX
for _ in $(seq 50); do [ -e "$root/tmp/ttyQRX" ] && break; sleep 0.1; done
[ -e "$root/tmp/ttyQRX" ] || fail "the simulator made no port"

# The console's buttons, as places in its window at its first size (the
# layout's, with the default font). Keys go through XTEST to the window under
# the pointer (there is no window manager): a key sent to a window by
# XSendEvent leaves Qt's input blocked afterwards.
x() { in_root env DISPLAY=:99 xdotool "$@"; }
find_window() { timeout 20 chroot "$root" env -i DISPLAY=:99 xdotool search --sync --onlyvisible --name "$1" | head -n1; }
press() { x mousemove --window "$1" "$2" "$3" sleep 0.3 click 1; sleep 1; }
key_to() { x mousemove --window "$1" 20 20 key "$2"; sleep 1; }
CONNECT=(377 241) VERSION=(53 536) TOOLS=(269 448) QUIT=(397 536)

# Starts the console (the arguments: how), answers the start-up notice,
# connects to the simulator and asks for the controller's version; leaves the
# answer on the screen as screenshot $1.
console_connects() {
  local shot=$1; shift
  start_in_root env DISPLAY=:99 "$@"
  notice=$(find_window "重要提示") || true
  [ -n "$notice" ] || fail "no start-up notice"
  key_to "$notice" Return
  console=$(find_window "QRX5000B控制器") || true
  [ -n "$console" ] || fail "no console window"
  press "$console" "${CONNECT[@]}"
  press "$console" "${VERSION[@]}"
  about=$(find_window "关于") || true
  [ -n "$about" ] || fail "no about box after 版本"
  screenshot "$shot"
  key_to "$about" Return
}

step "the console from its installed path, connected to the simulator"
console_connects console-connected env ROLTA_EXTRA_PORTS=/tmp/ttyQRX /usr/bin/rolta
in_root grep -a "加载成功" /root/.local/state/rolta/envkit.log || fail "the console did not load its library"

step "工具 from a folder without tools.htm (/root) shows the installed page"
press "$console" "${TOOLS[@]}"
page=$(find_window "其它工具") || true
[ -n "$page" ] || fail "工具 showed no page"
screenshot tools-page
key_to "$page" Escape
press "$console" "${QUIT[@]}"
sleep 1
in_root sh -c 'ls -la /root/.config /root/.config/rolta /root/.local/state/rolta'

step "the console from its desktop entry, as a menu starts it"
entry=$root/usr/share/applications/rolta.desktop
exec_line=$(sed -n 's/^Exec=//p' "$entry" | head -n1 | sed 's/ *%[fFuUdDnNickvm]//g')
echo "Exec=$exec_line"
read -ra command <<<"$exec_line"
# Started from a menu there is no environment to name the simulator: the
# user's list of further ports does.
mkdir -p "$root/root/.config/rolta"
echo /tmp/ttyQRX >"$root/root/.config/rolta/extra-ports"
console_connects desktop-entry "${command[@]}"
press "$console" "${QUIT[@]}"
for pid in $(cat "$root/tmp/trial-pids"); do kill "$pid" 2>/dev/null || true; done
: >"$root/tmp/trial-pids"
sleep 1

step "apt purge rolta, apt autoremove, and the trial's own tools purged"
in_root apt-get purge -y -q rolta
in_root apt-get autoremove --purge -y -q
in_root apt-get purge -y -q xvfb xdotool
in_root apt-get autoremove --purge -y -q
files_of_root >"$out/files-after"
echo "--- left behind (files-before vs files-after):"
{ diff "$out/files-before" "$out/files-after" || true; } | sed -n 's/^> //p' | tee "$out/left-behind"
if grep -v '^\./root/' "$out/left-behind" | grep -q .; then fail "files left outside the user's home"; fi
echo "fresh-install-trial: passed; per-user files under /root (the user's own) may remain"
