#!/usr/bin/env bash
# Starts scoutrix-devsim with two emulated ONVIF cameras on 127.0.BLOCK.11 and
# .12 (their HTTP ports chosen by the system, discovery on a free port of
# 127.0.0.1), then runs one ONVIF client against the first camera:
#
#   run_acceptance.sh DEVSIM BLOCK CLIENT [CLIENT_ARGS...]
#
# The client is called as CLIENT CLIENT_ARGS... DISCOVERY_IP:PORT DEVICE_IP
# NEW_IP USER PASSWORD and must move the camera to 127.0.BLOCK.21. Each test
# has its own BLOCK, so tests running side by side never share an address.
set -euo pipefail

devsim=$1
block=$2
shift 2
[ -x "$devsim" ] || { echo "FAIL setup: no emulator at $devsim"; exit 1; }
[[ $block =~ ^[0-9]+$ ]] && [ "$block" -ge 1 ] && [ "$block" -le 254 ] \
  || { echo "FAIL setup: BLOCK must be 1..254"; exit 1; }

device_ip=127.0.$block.11
new_ip=127.0.$block.21
work=$(mktemp -d "${TMPDIR:-/tmp}/onvif-accept.XXXXXX")
devsim_pid=

cleanup() {
  if [ -n "$devsim_pid" ] && kill -0 "$devsim_pid" 2>/dev/null; then
    kill "$devsim_pid"
    wait "$devsim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The clock runs ten minutes ahead so that a time set that did nothing shows;
# a short reboot keeps the test quick while still being seen.
camera() {
  cat <<EOF
    {
      "protocol": "onvif",
      "mac": "02:5C:A1:$(printf '%02X' "$block"):00:$1",
      "serial": "SXO$(printf '%03d' "$block")000$1",
      "model": "SX-IPC-4M",
      "type": "IPC",
      "ip": "127.0.$block.$1",
      "mask": "255.255.255.0",
      "gateway": "127.0.$block.1",
      "port": 80,
      "version": "V5.0.0 build 210302",
      "clock_offset_s": 600,
      "reboot_ms": 2000,
      "users": [ { "name": "admin", "password": "739204" } ]
    }
EOF
}
{
  echo '{ "devices": ['
  camera 11
  echo ','
  camera 12
  echo '] }'
} > "$work/fleet.json"

"$devsim" --fleet "$work/fleet.json" --discovery 127.0.0.1:0 --ephemeral-ports \
  --ready-file "$work/ready" --verbose > "$work/devsim.out" 2> "$work/devsim.log" &
devsim_pid=$!
for _ in $(seq 300); do
  [ -s "$work/ready" ] && break
  kill -0 "$devsim_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/ready" ]; then
  echo "FAIL setup: the emulator did not start"
  cat "$work/devsim.out" "$work/devsim.log"
  exit 1
fi
discovery=$(sed -n 's/^discovery=//p' "$work/ready")
echo "emulator ready, discovery on $discovery; camera $device_ip moves to $new_ip"

# Both clients sign their requests with a clock they read in local time.
status=0
TZ=UTC "$@" "$discovery" "$device_ip" "$new_ip" admin 739204 || status=$?
if [ "$status" -ne 0 ]; then
  echo "--- emulator log"
  tail -n 60 "$work/devsim.log"
fi
exit "$status"
