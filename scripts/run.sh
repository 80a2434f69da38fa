#!/usr/bin/env bash
# Installs what is missing, builds, starts a fleet of emulated devices on
# loopback and the program pointed at it. Nothing leaves this machine.
#   DEVICES=N   number of emulated devices (default: the mixed default fleet)
#   LANG_UI=Zh  start with the Chinese texts
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
export BUILD_DIR=${BUILD_DIR:-$here/build}
"$here/scripts/build.sh"
bin=$BUILD_DIR/bin

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "scoutrix: no display to show the window on." >&2
  echo "Run it under a virtual display instead:  xvfb-run -a -s '-screen 0 1280x800x24' $0" >&2
  exit 2
fi

port=${DISCOVERY_PORT:-39500}
fleet_args=()
[ -n "${DEVICES:-}" ] && fleet_args+=(--devices "$DEVICES")
ready=$(mktemp)
"$bin/scoutrix-devsim" "${fleet_args[@]}" --discovery "127.0.0.1:$port" --ready-file "$ready" &
sim=$!
trap 'kill $sim 2>/dev/null; rm -f "$ready"' EXIT
for _ in $(seq 100); do
  [ -s "$ready" ] && break
  if ! kill -0 "$sim" 2>/dev/null; then
    echo "scoutrix: the emulated fleet did not start (see the message above)." >&2
    exit 1
  fi
  sleep 0.1
done

# The language of this run; a run without LANG_UI is English again.
printf '[Language]\nlanguage=%s\n' "${LANG_UI:-Eng}" > "$bin/Language/language.ini"
# The emulated fleet lives on 127.0.10.x; devices elsewhere are offered a move.
SCOUTRIX_DISCOVERY="127.0.0.1:$port" SCOUTRIX_LOCAL_ADDRESSES=${SCOUTRIX_LOCAL_ADDRESSES:-127.0.10.1} \
  "$bin/scoutrix"
