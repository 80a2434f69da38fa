#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into ${FUZZ_BUILD_DIR:-build-fuzz}
# and runs each for ${FUZZ_SECONDS:-36} s from its seeds in fuzz/corpus/
# (five targets at 36 s keep the stage at the three minutes it has had).
# New inputs go to a scratch folder; a crash leaves its input in the build
# folder's fuzz-artifacts/ and fails the script.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh" fuzz
build=${FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${FUZZ_SECONDS:-36}
CC=clang-14 CXX=clang++-14 cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSCOUTRIX_FUZZ=ON -DSCOUTRIX_BUILD_TESTS=OFF -DSCOUTRIX_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_all
mkdir -p "$build/fuzz-artifacts"
for target in fuzz_frames fuzz_devicemodel fuzz_files fuzz_firmware fuzz_onvif; do
  scratch=$(mktemp -d)
  echo "== $target, $seconds s"
  if ! (cd "$scratch" && "$build/bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -timeout=10 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
      "$scratch" "$here/fuzz/corpus/$target" >"$scratch/log" 2>&1); then
    tail -n 60 "$scratch/log"
    echo "$target failed; the input is in $build/fuzz-artifacts/" >&2
    exit 1
  fi
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec)' "$scratch/log" || true
  rm -rf "$scratch"
done
