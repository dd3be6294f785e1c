#!/usr/bin/env bash
# Installs 32-bit Wine (wine32:i386), which runs the Windows x86 build's tests. Does nothing
# when it is installed. Runs as root or through sudo.
#
# The i386 packages come from the suites whose i386 index apt can read (the security suite's
# may fail to download, so apt-get update's status is not taken as final). A library that is
# Multi-Arch: same must have one version on both architectures, so every such library in
# wine32's dependency chain that is installed for amd64 is pinned, for both architectures, to
# the version the i386 side can install; that may downgrade a few amd64 libraries.
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

wine32_version=$(candidate wine32:i386)
if [ -z "$wine32_version" ]; then
    echo "install-wine32: no wine32:i386 to install (is the i386 index there?)" >&2
    exit 1
fi

# Every package wine32 needs, directly or not (i386 names carry ":i386"; virtual packages and
# alternatives come in angle brackets and are left out).
mapfile -t chain < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
    --no-breaks --no-replaces --no-enhances wine32:i386 | grep -v '^[[:space:]<]' | sort -u)

pins=()
for name in "${chain[@]}"; do
    pkg=${name%:i386}
    installed "$pkg:amd64" || continue
    [ "$(dpkg-query -W -f='${Multi-Arch}' "$pkg:amd64")" = same ] || continue
    version=$(candidate "$pkg:i386")
    if [ -z "$version" ]; then
        echo "install-wine32: $pkg has no i386 version to install" >&2
        exit 1
    fi
    if [ "$(dpkg-query -W -f='${Version}' "$pkg:amd64")" != "$version" ]; then
        pins+=("$pkg:amd64=$version" "$pkg:i386=$version")
    fi
done

if [ ${#pins[@]} -gt 0 ]; then
    echo "== pinned to the i386 side's versions: ${pins[*]}"
fi
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    --allow-downgrades "wine32:i386=$wine32_version" "${pins[@]}" >/dev/null
installed wine32:i386
