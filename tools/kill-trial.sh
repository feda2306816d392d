#!/usr/bin/env bash
# Crash trials from outside, on the simulated camera with 8 MiB images
# (2048 x 2048 pixels):
#  1. the service runs a long sequence and is killed (SIGKILL) at a random
#     moment, KILLS times; after each kill the images under their final names
#     are counted: every one must be whole and have its metadata file naming
#     it (expected: 0 without). The next round starts the service again in
#     the same directory.
#  2. while the service runs a 4-picture sequence, a second copy with the same
#     node name is started in the same directory, TRIES times: it must end
#     with status 2, and the first copy must store all 4 pictures.
# Usage: bash tools/kill-trial.sh [KILLS [TRIES]]   (defaults 40 and 30)
# Builds the programs it needs in ${STARSCAM_BUILD_DIR:-build}; prints the
# figures and exits 1 when any check failed.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
kills="${1:-40}"
tries="${2:-30}"
build="${STARSCAM_BUILD_DIR:-$top/build}"
cmake --build "$build" --target starscam stars-testserver starsctl >/dev/null
service="$build/app/starscam"
server="$build/tools/stars-testserver/stars-testserver"
client="$build/tools/starsctl/starsctl"
imageBytes=$((2048 * 2048 * 2))

run="$(mktemp -d)"
pids=()
cleanup() {
    local pid
    {
        for pid in "${pids[@]}"; do
            kill -9 "$pid" || true
        done
        wait
    } 2>/dev/null
    rm -rf "$run"
}
trap cleanup EXIT

mkdir -p "$run/work"
# shellcheck source=testserver.sh
source "$top/tools/testserver.sh"
starscam_start_server "$server" "$run" || { echo "the test server did not start" >&2; exit 1; }
pids+=("$starscam_server_pid")
port="$starscam_server_port"
cp "$run/keys/cam1.key" "$run/work/"
cat >"$run/work/config.cfg" <<CFG
NAME_ON_STARS   cam1
KEY_FILE_NAME   cam1
STARS_IP        127.0.0.1
STARS_PORT      $port
CAMERA_NO       0
CAMERA_LIBRARY  sim
SIM_WIDTH       2048
SIM_HEIGHT      2048
CFG
ctl=("$client" --port "$port" --node term1 --keyfile "$run/keys/term1.key" --to cam1 --quiet --timeout 30)

onBus() {
    "${ctl[@]}" --to System listnodes 2>/dev/null | grep -qw cam1
}
# Starts the service in the work directory; its pid in $servicePid.
startService() {
    for _ in $(seq 200); do onBus || break; sleep 0.05; done
    (cd "$run/work" && exec "$service") 2>>"$run/service.log" &
    servicePid=$!
    pids+=("$servicePid")
    for _ in $(seq 200); do onBus && return 0; sleep 0.05; done
    echo "the service did not log in" >&2
    exit 1
}
randomSeconds() { # a random time from 0 to $1 ms, in seconds
    printf '0.%03d' $((RANDOM % $1))
}

failed=0
# ---- 1. kills during sequences
stored=0 withoutMetadata=0 short=0 strayMetadata=0 temporaries=0
startService
for round in $(seq "$kills"); do
    "${ctl[@]}" "SetExpTime 0" "SetImages 1000" "SetFileName r${round}_.dat" Exposure >/dev/null
    sleep "$(randomSeconds 1500)"
    { kill -9 "$servicePid" && wait "$servicePid"; } 2>/dev/null || true
    temporaries=$((temporaries + $(find "$run/work" -name '.cam1.*.part' | wc -l)))
    for image in "$run/work"/r"${round}"_*.dat; do
        [ -e "$image" ] || continue
        stored=$((stored + 1))
        [ "$(stat -c %s "$image")" -eq "$imageBytes" ] || short=$((short + 1))
        name="$(basename "$image")"
        if [ ! -f "$image.json" ]; then
            withoutMetadata=$((withoutMetadata + 1))
        elif ! grep -qF "\"imageFile\": \"$name\"" "$image.json"; then
            strayMetadata=$((strayMetadata + 1))
        fi
    done
    # A metadata file whose image the kill did not let through is harmless.
    rm -f "$run/work"/r"${round}"_*
    startService
done
{ kill -9 "$servicePid" && wait "$servicePid"; } 2>/dev/null || true
echo "kills: $kills; images under their final names: $stored; without metadata: $withoutMetadata;" \
    "with another image's metadata: $strayMetadata; short: $short; kills that left a temporary: $temporaries"
[ "$withoutMetadata" -eq 0 ] && [ "$strayMetadata" -eq 0 ] && [ "$short" -eq 0 ] || failed=1

# ---- 2. a second copy on the same node and directory
refused=0 lost=0 touched=0
startService
for try in $(seq "$tries"); do
    "${ctl[@]}" "SetExpTime 0" "SetImages 4" "SetFileName s${try}_.dat" Exposure >/dev/null
    sleep "$(randomSeconds 400)"
    status=0
    (cd "$run/work" && exec "$service") 2>>"$run/second.log" || status=$?
    [ "$status" -eq 2 ] && refused=$((refused + 1))
    for _ in $(seq 600); do
        [ "$("${ctl[@]}" IsBusy 2>/dev/null | awk '{print $NF}')" = 0 ] && break
        sleep 0.1
    done
    count=0
    for image in "$run/work"/s"${try}"_*.dat; do
        [ -e "$image" ] || continue
        [ "$(stat -c %s "$image")" -eq "$imageBytes" ] && [ -f "$image.json" ] && count=$((count + 1))
    done
    lost=$((lost + 4 - count))
    rm -f "$run/work"/s"${try}"_*
done
grep -qs 'Removed the temporary' "$run/second.log" && touched=1
echo "second copies: $tries; ended with status 2: $refused; pictures lost by the first: $lost of $((4 * tries));" \
    "temporaries removed by a second copy: $touched"
[ "$refused" -eq "$tries" ] && [ "$lost" -eq 0 ] && [ "$touched" -eq 0 ] || failed=1
exit "$failed"
