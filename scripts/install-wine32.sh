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

# The version apt would install for PKG (name:arch), or nothing.
candidate() {
    apt-cache policy "$1" 2>/dev/null | awk '$1 == "Candidate:" && $2 != "(none)" { print $2; exit }'
}

# The source version that PKG=VERSION was built from (a binNMU's differs from its own).
source_version() {
    apt-cache show "$1" 2>/dev/null | awk -v v="${1#*=}" '
        /^$/ { exit }
        { seen = 1 }
        /^Source:/ && match($0, /\(.*\)/) { v = substr($0, RSTART + 1, RLENGTH - 2) }
        END { if (seen) print v }'
}

wine32_version=$(candidate wine32:i386)
if [ -z "$wine32_version" ]; then
    echo "install-wine32: no wine32:i386 to install (is the i386 index there?)" >&2
    exit 1
fi

# Every package wine32 needs, directly or not, by name without architecture (virtual packages
# and alternatives come in angle brackets and are left out).
mapfile -t chain < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
    --no-breaks --no-replaces --no-enhances wine32:i386 |
    grep -v '^[[:space:]<]' | sed 's/:i386$//' | sort -u)

pins=()
declare -A pinned_source  # source package -> the source version its pinned library has
for pkg in "${chain[@]}"; do
    installed "$pkg:amd64" || continue
    [ "$(dpkg-query -W -f='${Multi-Arch}' "$pkg:amd64")" = same ] || continue
    version=$(candidate "$pkg:i386")
    if [ -z "$version" ]; then
        echo "install-wine32: $pkg has no i386 version to install" >&2
        exit 1
    fi
    pins+=("$pkg:amd64=$version" "$pkg:i386=$version")
    pinned_source[$(dpkg-query -W -f='${source:Package}' "$pkg:amd64")]=$(source_version "$pkg:i386=$version")
done

install=(install --no-install-recommends --allow-downgrades "wine32:i386=$wine32_version")
# An installed package apt would remove for a pinned library goes to the version built from the
# same source as the library's pinned version; repeated while that keeps packages.
for _ in 1 2 3 4 5; do
    mapfile -t removed < <(apt-get -s "${install[@]}" "${pins[@]}" 2>/dev/null |
        awk '$1 == "Remv" { print $2 }')
    [ ${#removed[@]} -gt 0 ] || break
    kept=0
    for pkg in "${removed[@]}"; do
        want=${pinned_source[$(dpkg-query -W -f='${source:Package}' "$pkg")]:-}
        [ -n "$want" ] || continue
        for version in $(apt-cache madison "$pkg" | awk -F' *[|] *' '{ print $2 }'); do
            if [ "$(source_version "$pkg=$version")" = "$want" ]; then
                pins+=("$pkg=$version")
                kept=1
                break
            fi
        done
    done
    [ $kept -eq 1 ] || break
done

DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get "${install[@]}" -y -qq --no-remove "${pins[@]}" >/dev/null
installed wine32:i386
