#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
#   Linux, Linux under AddressSanitizer and UndefinedBehaviorSanitizer, the headless dialog
#   tests under valgrind, Windows x64 under Wine,
#   the GTK dialogs of the Linux build on a virtual display through AT-SPI (screenshots in
#   build/linux/artifacts/gtk/), real dialogs of the Windows x64 build under Wine on a virtual display (screenshots in
#   build/artifacts/screenshots/), Windows x86 under 32-bit Wine and its real dialogs
#   (screenshots in build/artifacts/screenshots-x86/), and a bounded run of each fuzzer.
# Ends with a line "N passed, N failed" counting the suites; exits non-zero when any failed.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
cd "$TAVIX_ROOT"

tavix_require_packages "${TAVIX_BUILD_PACKAGES[@]}" \
    libgtest-dev googletest libbenchmark-dev libpq-dev libsqlite3-dev \
    libpng-dev python3 clang libclang-rt-14-dev \
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 \
    binutils-mingw-w64-i686 wine64 wine xvfb xauth valgrind || exit 1
# Installing and packaging: pkg-config for the consumer, dpkg-dev for the packages'
# dependencies, man-db to find the installed manual page.
tavix_require_packages pkg-config dpkg-dev man-db || exit 1
# The GTK dialogs of Linux desktops: GTK 3 to build them, and for their display suite a virtual
# display, a D-Bus session with the accessibility bus, and the AT-SPI bindings of the system
# Python (screenshots with ImageMagick).
tavix_require_packages libgtk-3-dev xvfb xauth dbus at-spi2-core python3-pyatspi x11-apps \
    imagemagick fonts-dejavu-core || exit 1

# 32-bit Wine, for the Windows x86 build's tests (its suite fails when this could not be done).
bash "$TAVIX_ROOT/scripts/install-wine32.sh"
wine32_installed=$?

passed=0
failed=0
failed_names=()
step() {
    local name=$1
    shift
    local started=$SECONDS
    echo "== $name"
    if "$@"; then
        passed=$((passed + 1))
        echo "== $name: passed ($((SECONDS - started)) s)"
    else
        failed=$((failed + 1))
        failed_names+=("$name")
        echo "== $name: FAILED ($((SECONDS - started)) s)"
    fi
}

native_suite() {
    local preset=$1
    tavix_build "$preset" && ctest --preset "$preset" --parallel "$(nproc)" -LE display
}

# The GTK dialogs on a virtual display, driven through AT-SPI (the linux suite has built them);
# screenshots in build/linux/artifacts/gtk/.
gtk_display_suite() {
    ctest --preset linux -L display --output-on-failure
}

# The dialogs' user stories, run headless, under valgrind: no leak, no read of memory that was
# never written. (The linux suite has built the tests.)
valgrind_suite() {
    valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --error-exitcode=1 build/linux/tests/unit_tests \
        --gtest_filter='Headless*:ConnectionsDialog*:ChangeIcon*:Icons*' --gtest_brief=1
}

# Windows tests run under Wine in a prefix of their own, made for this run (in a subshell, so
# that nothing of it reaches the later steps). A persistent wineserver with the prefix's
# services already started keeps each test program's start fast and keeps those services from
# holding the tests' output open. Without a display there is no desktop for Wine's explorer to
# run (trying to start it for every program costs seconds each), and Wine's message boxes
# return at once; no test here needs a window. ctest's output also goes to LOG when given.
wine_ctest() {
    local preset=$1 log=${2:-/dev/null} prefix_dir status
    prefix_dir=$(mktemp -d)
    (
        export WINEPREFIX="$prefix_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;explorer.exe=d"
        export HOME=${HOME:-$prefix_dir}
        unset DISPLAY
        mkdir -p "$WINEPREFIX" &&
            wineserver -p &&
            wineboot -i >/dev/null 2>&1 &&
            ctest --preset "$preset" -LE gui | tee "$log"
    )
    status=$?
    WINEPREFIX="$prefix_dir/prefix" wineserver -k 2>/dev/null
    WINEPREFIX="$prefix_dir/prefix" wineserver -w 2>/dev/null
    rm -rf "$prefix_dir"
    return $status
}

wine_suite() {
    tavix_build mingw-x64 && wine_ctest mingw-x64
}

# Inside the virtual display: the prefix's services and Wine's desktop process start with their
# output away from ctest's (they outlive the tests), then the tests that need a display run.
gui_on_display() {
    wineserver -p >/dev/null 2>&1 &&
        wineboot -i >/dev/null 2>&1 &&
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 &&
        ctest --preset "${1:-mingw-x64}" -L gui --no-tests=error
}

# Real dialogs under Wine on a virtual display (Xvfb), in a prefix of their own: under a display
# each message box waits for its answer, which the tests give. Wine needs its desktop process
# (explorer) to create windows, so it stays enabled here. Without a window manager Wine draws
# the windows' frames itself (Decorated=N), so that the screenshots show them.
# PRESET (default mingw-x64) and the screenshots' directory under build/artifacts/ may be given.
gui_suite() {
    local preset=${1:-mingw-x64}
    tavix_build "$preset" || return 1
    local prefix_dir shots artifacts status
    prefix_dir=$(mktemp -d)
    shots="$prefix_dir/screenshots"
    artifacts="$TAVIX_ROOT/build/artifacts/${2:-screenshots}"
    mkdir -p "$prefix_dir/prefix" "$shots"
    (
        export WINEPREFIX="$prefix_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
        export HOME=${HOME:-$prefix_dir} TAVIX_SCREENSHOT_DIR="Z:$shots"
        xvfb-run -a -s "-screen 0 1280x1024x24" \
            bash -c "$(declare -f gui_on_display); gui_on_display $preset"
    )
    status=$?
    WINEPREFIX="$prefix_dir/prefix" wineserver -k 2>/dev/null
    WINEPREFIX="$prefix_dir/prefix" wineserver -w 2>/dev/null
    rm -rf "$artifacts"
    mkdir -p "$artifacts"
    local shot
    for shot in "$shots"/*.bmp; do
        [ -e "$shot" ] || continue
        cp "$shot" "$artifacts/" && echo "screenshot: $artifacts/$(basename "$shot")"
    done
    rm -rf "$prefix_dir"
    return $status
}

# The Windows x86 build runs under 32-bit Wine (wine32, installed above), in a prefix of its
# own made with it (a prefix made before wine32 was installed cannot start 32-bit programs).
# Without wine32, Wine 8 "runs" a 32-bit program by exiting 0 with no output: each GoogleTest
# program must report its passed tests (tests/CMakeLists.txt), and ctest's log must show unit
# and conformance tests that passed, so that a suite that ran nothing fails.
wine32_suite() {
    if [ "$wine32_installed" -ne 0 ]; then
        echo "32-bit Wine is not installed (scripts/install-wine32.sh failed)"
        return 1
    fi
    tavix_build mingw-x86 || return 1
    if ! grep -q '^TAVIX_WINE32:FILEPATH=/' build/mingw-x86/CMakeCache.txt; then
        echo "the mingw-x86 build found no 32-bit Wine: its tests would not run"
        return 1
    fi
    local log status
    log=$(mktemp)
    wine_ctest mingw-x86 "$log"
    status=$?
    local kind
    for kind in 'unit_tests|unit\.[^ ]+' 'conformance'; do
        if [ $status -eq 0 ] && ! grep -Eq "Test +#[0-9]+: ($kind) \.* +Passed" "$log"; then
            echo "no passed test matching '$kind' in the x86 run: its tests did not run"
            status=1
        fi
    done
    rm -f "$log"
    return $status
}

step "linux" native_suite linux
step "linux GTK dialogs (xvfb, at-spi)" gtk_display_suite
step "linux-asan" native_suite linux-asan
step "valgrind (headless dialogs)" valgrind_suite
step "windows-x64 (wine)" wine_suite
step "windows-x64 dialogs (wine, xvfb)" gui_suite
step "windows-x86 (wine32)" wine32_suite
step "windows-x86 dialogs (wine32, xvfb)" gui_suite mingw-x86 screenshots-x86
step "fuzz smoke" "$TAVIX_ROOT/scripts/fuzz-smoke.sh"

if [ $failed -ne 0 ]; then
    echo "failed: ${failed_names[*]}"
fi
echo "suites: $passed passed, $failed failed"
[ $failed -eq 0 ]
