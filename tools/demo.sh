#!/usr/bin/env bash
# The main job, end to end and without hardware: starts the bundled test STARS
# server on a free loopback port, the service on the simulated camera in a
# fresh working directory, and the command-line client, which asks a few
# questions, takes a three-image sequence and a single exposure, and downloads
# it. The bus lines are shown as they pass; the files written are listed and
# the first image is converted to PNG.
# Usage: bash tools/demo.sh [--sdk]   (installs missing Debian packages, builds first)
#   --sdk (or STARSCAM_DEMO_BACKEND=fli): the service runs a camera host's code
#   path, the SDK backend (CAMERA_LIBRARY fli), over the SDK-level simulated
#   camera (FLI_LIBRARY <build>/camera/flisim/libstarscam-flisim.so).
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
backend="${STARSCAM_DEMO_BACKEND:-sim}"
if [ "${1:-}" = "--sdk" ]; then
    backend=fli
fi
case "$backend" in
    sim | fli) ;;
    *) echo "demo.sh: STARSCAM_DEMO_BACKEND must be sim or fli, not $backend" >&2; exit 64 ;;
esac
# shellcheck source=deps.sh
source "$top/tools/deps.sh"
starscam_install_deps "${starscam_packages[@]}"

build="${STARSCAM_BUILD_DIR:-$top/build}"
echo "== building"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target starscam stars-testserver starsctl starscam-rawconv \
    $([ "$backend" = fli ] && echo starscam-flisim) >/dev/null
service="$build/app/starscam"
server="$build/tools/stars-testserver/stars-testserver"
client="$build/tools/starsctl/starsctl"
rawconv="$build/tools/rawconv/starscam-rawconv"
sdk="$build/camera/flisim/libstarscam-flisim.so"

run="${STARSCAM_DEMO_DIR:-$top/demo-run}"
rm -rf "$run"
mkdir -p "$run/keys" "$run/work"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap cleanup EXIT

echo "== starting the test STARS server"
# shellcheck source=testserver.sh
source "$top/tools/testserver.sh"
if ! starscam_start_server "$server" "$run" --verbose; then
    echo "the test server did not start"
    cat "$run/server.log"
    exit 1
fi
pids+=("$starscam_server_pid")
port="$starscam_server_port"
cp "$run/keys/cam1.key" "$run/work/"
echo "   listening on 127.0.0.1:$port"

cat >"$run/work/config.cfg" <<CFG
# starscam configuration: key, value (one word), anything after is ignored
NAME_ON_STARS   cam1
KEY_FILE_NAME   cam1
STARS_IP        127.0.0.1
STARS_PORT      $port
CAMERA_NO       0
CAMERA_LIBRARY  $backend
CFG
if [ "$backend" = fli ]; then
    echo "FLI_LIBRARY     $sdk" >>"$run/work/config.cfg"
fi

if [ "$backend" = fli ]; then
    echo "== starting the service (SDK backend, SDK-level simulated camera) in $run/work"
else
    echo "== starting the service (simulated camera) in $run/work"
fi
(cd "$run/work" && QT_MESSAGE_PATTERN='[%{file}:%{line} %{function}] %{message}' exec "$service") \
    2>"$run/service.log" &
pids+=($!)
ctl=("$client" --port "$port" --node term1 --keyfile "$run/keys/term1.key")
for _ in $(seq 100); do
    if "${ctl[@]}" --quiet --to System listnodes 2>/dev/null | grep -qw cam1; then
        break
    fi
    sleep 0.1
done

echo "== the client at work ('>' sent, '<' received)"
"${ctl[@]}" --to cam1 --subscribe --timeout 60 \
    GetModel GetTemp GetVisArea \
    "SetBin 2 2 1" "SetImages 3" "SetExpTime 200" \
    Exposure "wait _ChangedIsBusy 0" \
    StartExposure "wait _ChangedIsBusy 0" DownLoadImage

echo "== files written by the service"
(cd "$run/work" && ls -l -- *.dat)
echo "   (raw 16-bit little-endian rows, 768 x 512 pixels each with 2 x 2 binning)"

echo "== a quick look: the first image as PNG (stretched between percentiles)"
"$rawconv" --png --bin 2 2 "$run/work/DefaultFileName0000-0000.dat"
ls -l "$run/work/DefaultFileName0000-0000.png"
if [ "$backend" = fli ]; then
    echo "== the SDK the service loaded"
    grep -o 'camera library: FLI SDK .*' "$run/service.log"
fi
echo "== logs: $run/service.log (service), $run/server.log (bus trace)"
