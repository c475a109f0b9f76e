#!/usr/bin/env bash
# Runs the demonstrations from a built tree and prints the paths of the files
# they wrote: the pattern demo (when built) and the screenshot host
# vandrop-demo, which renders into an X11 window and calls SavePicture.
#
# With a display (DISPLAY set, not under CI) vandrop-demo shows the real save
# dialog and you answer it. Without one it runs on a private Xvfb and answers
# the real dialog itself, writing a BMP, a JPEG and a PNG screenshot into OUT;
# should that fail, it writes them through the scripted user instead.
# VANDROP_DEMO=interactive|auto|scripted picks the mode by hand.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1
tools=${BUILD_DIR:-$root/build/release}/tools
mkdir -p "$out"

if [ -x "$tools/demo/z3az-demo" ]; then
  "$tools/demo/z3az-demo" "$out"
fi

demo=$tools/vandrop-demo/vandrop-demo
if [ ! -x "$demo" ]; then
  echo "demo: $demo was not built" >&2
  exit 1
fi

mode=${VANDROP_DEMO:-}
if [ -z "$mode" ]; then
  if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then mode=interactive; else mode=auto; fi
fi

headless() {
  # GTK keeps settings and recently used files in HOME: give it a scratch one.
  local home
  home=$(mktemp -d "${TMPDIR:-/tmp}/vandrop-demo-home.XXXXXX")
  local status=0
  env -u DISPLAY HOME="$home" XDG_RUNTIME_DIR="$home" GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 \
      GDK_BACKEND=x11 timeout --kill-after=5 60 \
      xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$demo" "$@" || status=$?
  rm -rf "$home"
  return $status
}

case $mode in
  interactive)
    echo "demo: answer the save dialog of the vandrop-demo window" >&2
    exec "$demo"
    ;;
  auto)
    if ! headless --auto "$out"; then
      echo "demo: answering the real dialog failed; using the scripted user" >&2
      headless --scripted "$out"
    fi
    ;;
  scripted)
    headless --scripted "$out"
    ;;
  *)
    echo "demo: VANDROP_DEMO must be interactive, auto or scripted" >&2
    exit 2
    ;;
esac
