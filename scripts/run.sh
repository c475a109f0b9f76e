#!/usr/bin/env bash
# The main job: builds the project and runs the demonstration, which writes
# real image files and prints their paths.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/setup.sh
cmake -S "$root" -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "${JOBS:-2}" >&2

out=${1:-$root/out}
mkdir -p "$out"
exec "$root/scripts/demo.sh" "$out"
