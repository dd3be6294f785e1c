#!/usr/bin/env bash
# The Windows package: one zip with the x64 and the x86 DLL, each with its import library and
# .def file and the German resource DLL, the tool, and the header once.
#
#   scripts/package-windows.sh [OUTPUT_DIR]    (default: artifacts)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-artifacts}" && cd "${1:-artifacts}" && pwd)
version=$(sed -n 's/^project(TavixConnect VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/TavixConnect-$version-windows
for arch in x64 x86; do
    # A build of its own, without tests: the test builds keep their configuration.
    cmake --preset "mingw-$arch" -B "build/package-$arch" -DTAVIX_TESTS=OFF >/dev/null
    cmake --build "build/package-$arch" --parallel "$(nproc)"
    cmake --install "build/package-$arch" --prefix "$root/$arch" --component Runtime >/dev/null
    cmake --install "build/package-$arch" --prefix "$root/$arch" --component Development >/dev/null
done
# The header is the same for both: once, at the top.
mv "$root/x64/include" "$root/include"
rm -rf "$root/x86/include"
rm -f "$out/TavixConnect-$version-windows.zip"
(cd "$stage" && cmake -E tar cf "$out/TavixConnect-$version-windows.zip" --format=zip "TavixConnect-$version-windows")
echo "$out/TavixConnect-$version-windows.zip"
