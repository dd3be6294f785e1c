#!/usr/bin/env bash
# What a user of an installed TavixConnect gets: installs a built tree into a temporary prefix,
# builds a consumer program against it twice (the CMake package, pkg-config) and runs both in
# German and in English; runs the installed tool; then builds the Debian packages, installs
# them with dpkg (as root only), runs the tool and finds its manual page, and removes them.
#
#   scripts/test-install.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: test-install.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "test-install: $*" >&2; exit 1; }
expect() {  # WHAT EXPECTED ACTUAL
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# Through the CMake package.
cmake -S "$source_dir/tests/install" -B "$work/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/by-cmake" >/dev/null
# Through pkg-config.
pc=$(find "$prefix" -name tavixconnect.pc)
[ -n "$pc" ] || fail "no tavixconnect.pc in $prefix"
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir tavixconnect)
# shellcheck disable=SC2046
cc -std=c11 -o "$work/by-pkg-config" "$source_dir/tests/install/consumer.c" \
    $(pkg-config --cflags --libs tavixconnect) -ldl -Wl,-rpath,"$libdir"
for consumer in "$work/by-cmake/consumer" "$work/by-pkg-config"; do
    expect "$consumer in German" $'split ok\nresources: german' "$(env -i LC_ALL=de_DE.UTF-8 "$consumer")"
    expect "$consumer in English" $'split ok\nresources: own' "$(env -i LC_ALL=C "$consumer")"
done

# The installed tool, its manual page and completion.
tool=$prefix/bin/tavixconnect
expect "installed tool" "tavixconnect 1.0.0.0" "$("$tool" --version)"
XDG_CONFIG_HOME=$work/config "$tool" set Installed "cn_iptcp:db1[1972]:SALES"
expect "installed tool's list" "* Installed  cn_iptcp:db1[1972]:SALES" "$(XDG_CONFIG_HOME=$work/config "$tool" list)"
[ -f "$(find "$prefix" -path '*man1/tavixconnect.1')" ] || fail "no manual page installed"
[ -f "$prefix/share/bash-completion/completions/tavixconnect" ] || fail "no bash completion installed"
bash -c "source '$prefix/share/bash-completion/completions/tavixconnect' && complete -p tavixconnect" >/dev/null ||
    fail "the completion does not load"
if [ -f "$build/libTavixConnect-gtk3.so" ] || [ -f "$build/TavixConnectGtk3.so" ]; then
    ls "$libdir" | grep -qi gtk || fail "the GTK window system is not installed beside the library"
fi
# The installed library opens its dialogs on a display: the dialog stays up until the
# timeout ends it (3 would be "no window system").
if command -v xvfb-run >/dev/null && ls "$libdir" | grep -q 'gtk3'; then
    status=0
    XDG_CONFIG_HOME=$work/config xvfb-run -a timeout 10 "$tool" dialog >/dev/null 2>&1 || status=$?
    [ "$status" = 124 ] || fail "the installed tool showed no dialog on a display (exit $status)"
fi
echo "install tree: ok"

# As a part of another project: configured there, everything of it stays below its own binary
# directory and its tests are off. (Configured only: building would compile the library again.)
mkdir -p "$work/outer"
cat >"$work/outer/CMakeLists.txt" <<OUTER
cmake_minimum_required(VERSION 3.25)
project(Outer LANGUAGES C CXX)
add_subdirectory("$source_dir" tavix)
add_executable(consumer "$source_dir/tests/install/consumer.c")
target_link_libraries(consumer PRIVATE TavixConnect::TavixConnect \${CMAKE_DL_LIBS})
OUTER
cmake -S "$work/outer" -B "$work/outer/build" -DCMAKE_BUILD_TYPE=Release >/dev/null ||
    fail "the project does not configure as a subproject"
[ -f "$work/outer/build/tavix/generated/TavixConnect.map" ] || fail "as a subproject, its generated files are not in its binary directory"
[ ! -e "$work/outer/build/generated" ] || fail "as a subproject, it wrote into the top-level binary directory"
grep -q 'add_test' "$work/outer/build/tavix/CTestTestfile.cmake" 2>/dev/null && fail "as a subproject, it adds its tests"
echo "subproject: ok"

# The Debian packages, installed as a user installs them.
if [ "$(id -u)" != 0 ] || ! command -v dpkg >/dev/null; then
    echo "packages: not installed (needs root and dpkg)"
    exit 0
fi
# One run at a time on a machine: the packages are installed system-wide.
exec 9>/tmp/tavixconnect-test-install.lock
flock 9
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB >/dev/null)
runtime=$(ls "$work"/tavixconnect_*.deb)
dpkg-deb -f "$runtime" Depends | grep -q libsqlite3 || fail "the package does not declare its dependencies"
if dpkg-query -W -f='${Status}' tavixconnect 2>/dev/null | grep -q ' installed$'; then
    fail "tavixconnect is installed on this machine already"
fi
dpkg -i "$runtime" >/dev/null
trap 'dpkg -P tavixconnect >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
expect "packaged tool" "tavixconnect 1.0.0.0" "$(/usr/bin/tavixconnect --version)"
man -w tavixconnect >/dev/null || fail "man -w tavixconnect finds no page"
dpkg -P tavixconnect >/dev/null
[ ! -e /usr/bin/tavixconnect ] || fail "dpkg -P left /usr/bin/tavixconnect"
echo "packages: ok"
