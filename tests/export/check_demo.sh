#!/usr/bin/env bash
# The main job's screenshot part: the demo script, without a display, must
# print the paths of a BMP, a JPEG and a PNG screenshot that exist and start
# with their file type's signature.
#   check_demo.sh SOURCE_DIR BUILD_DIR MODE
set -euo pipefail
source_dir=$1 build_dir=$2 mode=$3
out=$(mktemp -d "${TMPDIR:-/tmp}/vandrop-demo-out.XXXXXX")
trap 'rm -rf "$out"' EXIT
listing=$(env -u DISPLAY VANDROP_DEMO="$mode" BUILD_DIR="$build_dir" "$source_dir/scripts/demo.sh" "$out")
echo "$listing"
failed=0
for want in "vandrop-screenshot.bmp 424d" "vandrop-screenshot.jpg ffd8ff" "vandrop-screenshot.png 89504e470d0a1a0a"; do
  name=${want% *} magic=${want#* }
  path=$out/$name
  if ! grep -qxF "$path" <<<"$listing"; then
    echo "FAIL: $path not printed"; failed=1; continue
  fi
  head=$(head -c $(( ${#magic} / 2 )) "$path" | od -An -tx1 | tr -d ' \n')
  if [ "$head" != "$magic" ]; then
    echo "FAIL: $path starts with $head, not $magic"; failed=1
  elif [ "$(stat -c %s "$path")" -lt 1000 ]; then
    echo "FAIL: $path is too small to hold the scene"; failed=1
  else
    echo "ok: $path"
  fi
done
exit $failed
