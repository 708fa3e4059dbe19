# Headless desktop for tests and benchmarks: Xvfb, a session D-Bus, the Secret Service (gnome-keyring),
# AT-SPI and PulseAudio with a virtual microphone; with VOXLE_DESKTOP_TRAY=1 also a system tray (trayer).
# Every service is a child of the calling script and is stopped by PID.
# Source this file, then call desktop_start / desktop_stop.

DESKTOP_PIDS=()

_wait_for() { # seconds command...
  local tries=$(( $1 * 10 )); shift
  for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "desktop: timed out waiting for: $*" >&2
  return 1
}

desktop_start() {
  VOXLE_DESKTOP_DIR=$(mktemp -d /tmp/voxle-desktop.XXXXXX)
  export VOXLE_DESKTOP_DIR
  export HOME="$VOXLE_DESKTOP_DIR/home"
  export XDG_RUNTIME_DIR="$VOXLE_DESKTOP_DIR/run"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"

  local display=99
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$VOXLE_DESKTOP_DIR/xvfb.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  export DISPLAY=":$display"
  _wait_for 20 xdpyinfo

  dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus" >"$VOXLE_DESKTOP_DIR/dbus.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
  _wait_for 20 dbus-send --session --dest=org.freedesktop.DBus --print-reply / org.freedesktop.DBus.ListNames

  openbox --sm-disable >"$VOXLE_DESKTOP_DIR/openbox.log" 2>&1 &
  DESKTOP_PIDS+=($!)

  # A system tray host, when asked for: programs look for a tray once at start-up, so it comes first.
  if [ "${VOXLE_DESKTOP_TRAY:-}" = 1 ]; then
    trayer --edge top --align right --widthtype request --height 32 >"$VOXLE_DESKTOP_DIR/trayer.log" 2>&1 &
    DESKTOP_PIDS+=($!)
    _wait_for 20 sh -c 'xwininfo -root -tree | grep -q "\"panel\""'
  fi

  printf 'voxle-test-keyring' | gnome-keyring-daemon --foreground --unlock --components=secrets \
    >"$VOXLE_DESKTOP_DIR/keyring.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  _wait_for 20 sh -c "dbus-send --session --dest=org.freedesktop.DBus --print-reply / \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q 'boolean true'"

  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null

  pulseaudio -n --daemonize=no --exit-idle-time=-1 --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=vsink rate=48000" \
    --load="module-remap-source master=vsink.monitor source_name=vmic" >"$VOXLE_DESKTOP_DIR/pulse.log" 2>&1 &
  DESKTOP_PIDS+=($!)
  _wait_for 20 pactl info
  pactl set-default-source vmic
  # Keeps the source running so a new capture gets audio from its first buffer.
  parec -d vmic --latency-msec=20 >/dev/null 2>&1 &
  DESKTOP_PIDS+=($!)
  echo "desktop: DISPLAY=$DISPLAY HOME=$HOME"
}

desktop_stop() {
  local i
  for (( i=${#DESKTOP_PIDS[@]}-1; i>=0; i-- )); do
    kill "${DESKTOP_PIDS[$i]}" 2>/dev/null || true
  done
  for pid in "${DESKTOP_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  DESKTOP_PIDS=()
  # The a11y bus launcher was started by D-Bus activation; it is gone with the bus.
  [ -n "${VOXLE_DESKTOP_DIR:-}" ] && rm -rf "$VOXLE_DESKTOP_DIR"
}
