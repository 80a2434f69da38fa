#!/usr/bin/env bash
# Builds the SDK, emulator and upgrade engine tests with the thread sanitizer into
# ${TSAN_BUILD_DIR:-build-tsan} and runs them; a race report fails the test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
build=${TSAN_BUILD_DIR:-$here/build-tsan}
tests=(tst_protocol tst_netsdk tst_robustness tst_devsim tst_upgrade tst_upgrade_e2e tst_stream tst_cameradevice)
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCOUTRIX_TSAN=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${tests[@]}"
cd "$build"
pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
ctest --output-on-failure -j"$(nproc)" --timeout 900 -R "$pattern"
