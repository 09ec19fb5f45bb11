#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the program and starts it on the simulated devices with the
# bundled pages. With a display ($DISPLAY set) it opens the window. Without one it runs the program
# under Xvfb, saves a screenshot of the window once the start page is shown, prints its path and
# exits. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
build_dir="${BUILD_DIR:-build}"
bin="$build_dir/bin"
echo "Devices the program sees:"
"$bin/tm_devices_list"
echo
if [ -n "${DISPLAY:-}" ]; then
  exec "$bin/Brontivex" "$@"
fi
shot="$(cd "$build_dir" && pwd)/start-page.png"
rm -f "$shot"
TM_SCREENSHOT="$shot" timeout 180 xvfb-run -a -s "-screen 0 1920x1080x24" "$bin/Brontivex" "$@"
if [ ! -s "$shot" ]; then
  echo "No screenshot: the start page was not shown, or the program was running already and was brought forward." >&2
  exit 1
fi
