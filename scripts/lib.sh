# Shared by the project's scripts: installing what is missing, and running steps.
# shellcheck shell=bash

TAVIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Installs the Debian packages that are not installed yet (apt-get update once, only then).
tavix_require_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "== installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What every build needs: the toolchain, the libraries the Linux library links (the
# registry store's SQLite, libpng for PNG icons), and the MinGW resource compiler and linker
# (the library's resources and the German resource library are made with them on every build).
TAVIX_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libsqlite3-dev libpng-dev binutils-mingw-w64-x86-64)

# Configures and builds one preset.
tavix_build() {
    local preset=$1
    cmake --preset "$preset" -S "$TAVIX_ROOT" >/dev/null
    cmake --build --preset "$preset" --parallel "$(nproc)"
}
