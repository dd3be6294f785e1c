#!/usr/bin/env bash
# Installs what is missing, builds the library and the command-line tool for Linux, and runs
# the tool with the given arguments (by default an example).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

tavix_require_packages "${TAVIX_BUILD_PACKAGES[@]}" libgtest-dev
tavix_build linux >/dev/null
cli="$TAVIX_ROOT/build/linux/tavixconnect"
if [ $# -eq 0 ]; then
    echo "\$ tavixconnect split '\"My DB\" cn_iptcp:db1[1972]:SALES'"
    exec "$cli" split '"My DB" cn_iptcp:db1[1972]:SALES'
fi
exec "$cli" "$@"
