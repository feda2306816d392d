# Sourced by the scripts that run the service against the bundled test STARS
# server. starscam_start_server SERVER RUN [OPTION...]: writes the key files
# RUN/keys/cam1.key and RUN/keys/term1.key, starts SERVER on a free loopback
# port with them (its output in RUN/server.log) and sets starscam_server_pid
# and starscam_server_port; returns 1 when the server did not come up.
starscam_start_server() {
    local server="$1" run="$2"
    shift 2
    mkdir -p "$run/keys"
    # Each node logs in with a word of its key file, chosen by the server.
    printf '%s\n' alpha bravo charlie delta >"$run/keys/cam1.key"
    printf '%s\n' echo foxtrot golf >"$run/keys/term1.key"
    "$server" --port 0 --keydir "$run/keys" "$@" >"$run/server.log" 2>&1 &
    starscam_server_pid=$!
    starscam_server_port=""
    for _ in $(seq 100); do
        starscam_server_port="$(awk 'NR==1 && $1=="listening" {print $3}' "$run/server.log" 2>/dev/null || true)"
        [ -n "$starscam_server_port" ] && return 0
        sleep 0.05
    done
    return 1
}
