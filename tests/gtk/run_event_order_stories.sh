#!/bin/bash
# The event-order stories on the GTK window system: a virtual display (xvfb-run) and a D-Bus
# session for the test program.
#
#   run_event_order_stories.sh PROGRAM [ARGUMENTS ...]
set -u
# No accessibility bridge: the stories need none.
export NO_AT_BRIDGE=1
unset WAYLAND_DISPLAY GTK_MODULES
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" dbus-run-session -- "$@"
