# Sourced: start_xvfb starts a private X server, exports its DISPLAY, sets `xvfb` to its process id
# (for the caller's cleanup to end) and returns once it answers.
start_xvfb() {
    local display=":$((90 + RANDOM % 100))"
    Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY="$display"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}
