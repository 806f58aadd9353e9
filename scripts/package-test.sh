#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary
# root and checks it from there, with no build folder on any path: the files
# are where a Linux tool keeps them, every program answers --version, the
# installed command-line program talks to the installed simulator, and the
# console starts headless (the environment library loads and logs), the
# description reads as apt shows it and no maintainer script runs ldconfig.
# Runs lintian when it is installed; a warning fails as an error does.
#   scripts/package-test.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d)
sim_pid=""
console_pid=""
cleanup() {
  [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package-test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$work/out/rolta_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6widgets6 libc6 fonts-wqy-microhei libmosquitto1; do
  grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed"
done

# The description as `apt show` prints it: no continuation line may start with
# the ";" of a CMake list joined into the text.
description=$(dpkg-deb -f "$deb" Description)
if grep -n '^ *;' <<<"$description"; then fail "the description has lines starting with ';'"; fi
[ "$(wc -l <<<"$description")" -ge 3 ] || fail "the description has no long text: $description"
# The environment library is loaded by its path: nothing runs ldconfig.
control="$work/control"
dpkg-deb -e "$deb" "$control"
if grep -l ldconfig "$control"/* 2>/dev/null; then fail "a maintainer script calls ldconfig"; fi

root="$work/root"
dpkg-deb -x "$deb" "$root"
for file in bin/rolta bin/qrx5000b-sim bin/rolta-cli lib/rolta/libEnvkit.so lib/rolta/libEnvkit16b.so \
    share/rolta/envkit-dictionaries/en.txt share/rolta/tools.htm share/rolta/rolta-guide.html share/rolta/en/tools.htm share/rolta/en/rolta-guide.html \
    share/applications/rolta.desktop share/icons/hicolor/scalable/apps/rolta.svg \
    share/man/man1/rolta.1.gz share/man/man1/rolta-cli.1.gz share/man/man1/qrx5000b-sim.1.gz \
    share/doc/rolta/copyright; do
  [ -f "$root/usr/$file" ] || fail "missing /usr/$file"
done
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$root/usr/share/applications/rolta.desktop"; fi
if grep -rq "$build" "$root/usr/share" "$root/usr/bin"; then fail "the build folder is named inside the package"; fi

# A clean environment: only the unpacked programs and the system's own.
home="$work/home"
mkdir -p "$home"
run() {
  exec env -i PATH="$root/usr/bin:/usr/bin:/bin" HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_STATE_HOME="$home/.state" XDG_RUNTIME_DIR="$work" "$@"
}
# Every use runs in a subshell of its own ($(...), a pipe or &), which the
# exec replaces, so a background program's $! is the program itself.
for program in rolta qrx5000b-sim rolta-cli; do
  out=$(run "$program" --version) || true
  [ "$out" = "$program $version" ] || fail "$program --version said '$out'"
done

link="$work/ttyQRX"
run qrx5000b-sim --link "$link" >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || fail "the installed simulator made no port"
answer=$(run ROLTA_LANGUAGE=en rolta-cli --port "$link" version) || true
[ "$answer" = "QRX5000 controller version: Ver7.34" ] || fail "rolta-cli version said '$answer'"
(run ROLTA_EXTRA_PORTS="$link" rolta-cli ports) | grep -qx "$link" || fail "the port list lacks the simulator"

# The console, headless: it loads the installed library (which logs one line)
# and keeps running until it is ended.
run QT_QPA_PLATFORM=offscreen ROLTA_EXTRA_PORTS="$link" rolta >"$work/console.log" 2>&1 &
console_pid=$!
for _ in $(seq 50); do [ -s "$home/.state/rolta/envkit.log" ] && break; sleep 0.1; done
grep -q "加载成功" "$home/.state/rolta/envkit.log" 2>/dev/null || { cat "$work/console.log"; fail "the console did not load its library"; }
kill -0 "$console_pid" 2>/dev/null || { cat "$work/console.log"; fail "the console ended"; }

if command -v lintian >/dev/null; then
  lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$deb"
else
  echo "lintian is not installed: skipped"
fi
echo "package-test: $deb passed"
