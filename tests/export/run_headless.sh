#!/usr/bin/env bash
# Runs one test program on a private X server: a fresh Xvfb of the given
# depth, a temporary HOME (GTK writes settings and recently used files there),
# in-memory settings, no accessibility bus, and a time limit so that a dialog
# nobody answers cannot hang the suite.
#   run_headless.sh DEPTH SECONDS PROGRAM [ARGS...]
# Two runs started at the same moment can pick the same free server number;
# the one whose server then fails to start tries again.
set -euo pipefail
depth=$1 seconds=$2
shift 2
home=$(mktemp -d "${TMPDIR:-/tmp}/vandrop-test-home.XXXXXX")
trap 'rm -rf "$home"' EXIT
for attempt in 1 2 3; do
  status=0
  env -u DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
      XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home" \
      GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 GDK_BACKEND=x11 VANDROP_TEST_DEPTH="$depth" \
      timeout --kill-after=5 "$seconds" \
      xvfb-run -a -e "$home/xvfb.log" -s "-screen 0 1024x768x$depth -nolisten tcp" "$@" \
      2>"$home/stderr" || status=$?
  cat "$home/stderr" >&2
  if [ "$status" -ne 0 ] && grep -q "Xvfb failed to start" "$home/stderr"; then
    echo "run_headless: the X server did not start (attempt $attempt)" >&2
    cat "$home/xvfb.log" >&2 || true
    sleep "$attempt"
    continue
  fi
  exit "$status"
done
exit 1
