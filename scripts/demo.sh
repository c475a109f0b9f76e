#!/usr/bin/env bash
# Runs the demonstration program from a built tree and prints the files it wrote.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1
exec "$root/build/release/tools/demo/z3az-demo" "$out"
