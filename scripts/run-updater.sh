#!/usr/bin/env bash
# Sets the machine up, builds everything and says what it built. (Opening the updater
# against a simulated device comes with the updater itself.)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNV_TESTS=OFF -DNV_BENCH=OFF >/dev/null
cmake --build build/app
echo "Built in build/app:"
find build/app -maxdepth 4 -type f \( -name '*.a' -o -perm -u+x \) ! -name '*.sh' ! -path '*/CMakeFiles/*' | sort
