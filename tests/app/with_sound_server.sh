#!/bin/sh
# Runs a command against a private PulseAudio server whose only output is a null sink, so what
# is played can be recorded from its monitor and nothing reaches the computer's speakers. Exits
# 77 (the test is skipped) when no such server can start here.
command -v pulseaudio >/dev/null 2>&1 || exit 77
dir=$(mktemp -d) || exit 77
export XDG_RUNTIME_DIR="$dir" PULSE_RUNTIME_PATH="$dir/pulse" HOME="$dir"
export PULSE_SERVER="unix:$dir/native"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
  -L "module-null-sink sink_name=audition rate=48000" \
  -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
  -L "module-always-sink" >"$dir/server.log" 2>&1 &
server=$!
up=0
for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
  if pactl info >/dev/null 2>&1; then up=1; break; fi
  sleep 0.5
done
if [ "$up" != 1 ]; then
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  rm -rf "$dir"
  exit 77
fi
pactl set-default-sink audition
pactl set-default-source audition.monitor
"$@"
rc=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$dir"
exit $rc
