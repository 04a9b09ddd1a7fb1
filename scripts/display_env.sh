# Sourced by the scripts that run windowed tests: a private Xvfb display, and its shutdown.
QUORVEL_XVFB_SERVER_PID=

# Starts Xvfb on the first free display number and exports DISPLAY once it accepts clients.
start_display() {
  coproc QUORVEL_XVFB { exec Xvfb -displayfd 1 -nolisten tcp -screen 0 1280x1024x24 2>/dev/null; }
  QUORVEL_XVFB_SERVER_PID=$QUORVEL_XVFB_PID
  local number
  # Xvfb writes the display's number when it is ready; the time-out only guards a broken server.
  if ! read -r -t 30 number <&"${QUORVEL_XVFB[0]}"; then
    echo "display_env: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

stop_display() {
  if [ -n "$QUORVEL_XVFB_SERVER_PID" ]; then
    kill "$QUORVEL_XVFB_SERVER_PID" 2>/dev/null || true
    wait "$QUORVEL_XVFB_SERVER_PID" 2>/dev/null || true
    QUORVEL_XVFB_SERVER_PID=
  fi
}
