#!/bin/bash
# The display suite of the GTK dialogs: an Xvfb display, a D-Bus session in which the
# accessibility bus starts by activation, and the AT-SPI driver in the system Python.
#
#   run_display_suite.sh CLIENT LIBRARY CLI ARTIFACTS ICON_FILE [STORY ...]
#
# ICON_FILE is a library with several icons, for the Change Icon story. The icon row's scroll
# bar story takes the 25-icon library of the row's fixtures, beside ICON_FILE's directory
# (TAVIX_ROW_ICON_FILE names another).
set -u
client=$(realpath "$1") library=$(realpath "$2") cli=$(realpath "$3") artifacts=$(realpath -m "$4")
export TAVIX_ICON_FILE=$(realpath "$5")
export TAVIX_ROW_ICON_FILE=$(realpath -m "${TAVIX_ROW_ICON_FILE:-$(dirname "$TAVIX_ICON_FILE")/../row_fixtures/icons25.dll}")
shift 5
here=$(cd "$(dirname "$0")" && pwd)

display=
for n in $(seq 90 130); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free display number"; exit 1; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || { echo "Xvfb did not start"; exit 1; }

mkdir -p "$artifacts"
export DISPLAY=":$display" NO_AT_BRIDGE=0 GTK_A11Y=atspi
unset WAYLAND_DISPLAY GTK_MODULES
dbus-run-session -- /usr/bin/python3 "$here/display_driver.py" "$client" "$library" "$cli" "$artifacts" "$@"
