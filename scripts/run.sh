#!/usr/bin/env bash
# Installs what is missing, builds, starts the controller simulator on a
# pseudo-terminal and the console beside it. The simulator's port is listed
# first in the console's port list; pick it and press "设置".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

"$root/scripts/install-deps.sh"
# The build folder test.sh uses too: after a test run nothing is built again.
"$root/scripts/build.sh" rolta qrx5000b-sim envkit_all

run_dir=${XDG_RUNTIME_DIR:-/tmp}/rolta-$(id -u)
mkdir -p "$run_dir"
sim_link="$run_dir/ttyQRX5000B"
# ROLTA_SIM_ARGS passes options to the simulator, e.g. "--fault garbage".
# shellcheck disable=SC2086
"$root/build/bin/qrx5000b-sim" --link "$sim_link" ${ROLTA_SIM_ARGS:-} &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$sim_link" ] && break; sleep 0.1; done
echo "Controller simulator on $sim_link"

export ROLTA_EXTRA_PORTS="$sim_link${ROLTA_EXTRA_PORTS:+:$ROLTA_EXTRA_PORTS}"
# "工具" shows tools.htm of the current directory, which the build puts beside the programs.
cd "$root/build/bin"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$root/build/bin/rolta" "$@"
else
  echo "No display found: running the console under a virtual X server (xvfb-run)."
  xvfb-run -a -s "-screen 0 1280x900x24" "$root/build/bin/rolta" "$@"
fi
