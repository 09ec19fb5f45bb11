#!/bin/sh
# Runs a command on the X display of $DISPLAY with openbox managing its windows, then ends openbox.
# The command waits for the window manager itself (it names its check window on the root window).
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit "$status"
