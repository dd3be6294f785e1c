#!/usr/bin/env bash
# Installs 32-bit Wine (wine32:i386), which runs the Windows x86 build's tests. Does nothing
# when it is installed. Runs as root or through sudo.
#
# The i386 packages come from the suites whose i386 index apt can read (the security suite's
# may fail to download, so apt-get update's status is not taken as final). A library that is
# Multi-Arch: same must have one version on both architectures, so every such library in
# wine32's dependency chain that is installed for amd64 is pinned, for both architectures, to
# the version the i386 side can install. That may move a few amd64 libraries up or down;
# installed packages that need the exact version of such a library (its -dev package, say)
# move with it. Nothing is removed: when that cannot be avoided the install fails.
set -euo pipefail

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if installed wine32:i386; then
    exit 0
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
echo "== installing wine32:i386"
"${sudo[@]}" apt-get update -qq || echo "apt-get update reported errors; going on with the indexes it read" >&2

# PKG ARCH VERSION SOURCE-VERSION for every record apt has of the packages named (a binNMU's
# source version differs from its own).
records() {
    apt-cache show "$@" 2>/dev/null | awk '
        /^Package:/ { p = $2 } /^Architecture:/ { a = $2 } /^Version:/ { v = $2 }
        /^Source:/ { s = match($0, /\(.*\)/) ? substr($0, RSTART + 1, RLENGTH - 2) : "" }
        /^$/ { if (p != "") print p, a, v, (s != "" ? s : v); p = s = "" }
        END { if (p != "") print p, a, v, (s != "" ? s : v) }'
}

if [ -z "$(apt-cache policy wine32:i386 2>/dev/null | awk '$1 == "Candidate:" && $2 != "(none)"')" ]; then
    echo "install-wine32: no wine32:i386 to install (is the i386 index there?)" >&2
    exit 1
fi

# Every package wine32 needs, directly or not, by name without architecture (virtual packages
# and alternatives come in angle brackets and are left out).
mapfile -t chain < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
    --no-breaks --no-replaces --no-enhances wine32:i386 |
    grep -v '^[[:space:]<]' | sed 's/:i386$//' | sort -u)

# The installed amd64 packages: Multi-Arch, version and source of each.
declare -A multi_arch version_of source_of
while IFS='|' read -r status name ma version source; do
    [ "$status" = "ii " ] || continue
    multi_arch[$name]=$ma version_of[$name]=$version source_of[$name]=${source%% *}
done < <(dpkg-query -W -f='${db:Status-Abbrev}|${Package}|${Multi-Arch}|${Version}|${source:Package}\n' \
    '*:amd64')

libraries=()
for name in "${chain[@]}"; do
    [ "${multi_arch[$name]:-}" = same ] && libraries+=("$name")
done

# The i386 side's candidate of each such library.
declare -A candidate
while read -r name version; do
    candidate[$name]=$version
done < <(apt-cache policy "${libraries[@]/%/:i386}" 2>/dev/null | awk '
    /^[^ ].*:$/ { name = substr($0, 1, length($0) - 1); sub(/:i386$/, "", name) }
    $1 == "Candidate:" && $2 != "(none)" { print name, $2 }')

pins=()
declare -A wanted_source  # source package -> the source version of its pinned libraries
for name in "${libraries[@]}"; do
    version=${candidate[$name]:-}
    if [ -z "$version" ]; then
        echo "install-wine32: $name has no i386 version to install" >&2
        exit 1
    fi
    pins+=("$name:amd64=$version" "$name:i386=$version")
done
while read -r name arch version source_version; do
    [ "${candidate[$name]:-}" = "$version" ] && wanted_source[${source_of[$name]}]=$source_version
done < <(records "${libraries[@]/%/:i386}")

# Installed packages built from the same source as a pinned library (its -dev package, say)
# often need that library's exact version: each goes to the version built from the same source
# version, where there is one.
siblings=()
for name in "${!source_of[@]}"; do
    [ -n "${wanted_source[${source_of[$name]}]:-}" ] && [ -z "${candidate[$name]:-}" ] && siblings+=("$name")
done
if [ ${#siblings[@]} -gt 0 ]; then
    declare -A sibling_pin
    while read -r name arch version source_version; do
        [ "$arch" = amd64 ] || [ "$arch" = all ] || continue
        [ "${wanted_source[${source_of[$name]}]}" = "$source_version" ] || continue
        [ "${version_of[$name]}" = "$version" ] || sibling_pin[$name]=$version
    done < <(records "${siblings[@]/%/:amd64}")
    for name in "${!sibling_pin[@]}"; do
        pins+=("$name:amd64=${sibling_pin[$name]}")
    done
fi

DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    --allow-downgrades --no-remove wine32:i386 "${pins[@]}" >/dev/null
installed wine32:i386
