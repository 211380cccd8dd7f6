#!/usr/bin/env bash
# Builds the mingw-w64 dependencies that Debian does not ship for mingw:
# PCRE2 (16-bit, static) from its Debian source package and GoogleTest from
# /usr/src/googletest. Each is built once per target and kept under the build
# tree, so later runs only check the stamp.
#   usage: mingw-deps.sh <x86_64-w64-mingw32|i686-w64-mingw32> [prefix]
set -euo pipefail
cd "$(dirname "$0")/.."
triple=${1:?target triple}
root=$PWD/build/mingw-deps
prefix=${2:-$root/$triple}
toolchain=$PWD/cmake/mingw-$([ "$triple" = x86_64-w64-mingw32 ] && echo x64 || echo x86).cmake
jobs=$(nproc)

pcre2_source() {
  local src=$root/src
  if [ -n "$(ls -d "$src"/pcre2-*/ 2>/dev/null)" ]; then
    ls -d "$src"/pcre2-*/ | head -n1
    return
  fi
  # apt-get source needs deb-src entries; mirror the binary ones.
  local list=/etc/apt/sources.list.d/kv-deb-src.sources
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ /etc/apt/sources.list; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$list"
    apt-get update -qq >&2
  fi
  mkdir -p "$src"
  # The newest version whose files a mirror still has (security uploads may be gone).
  local v got=
  for v in $(apt-cache showsrc pcre2 | awk '/^Version:/ {print $2}' | sort -rV); do
    rm -rf "${src:?}"/*
    if (cd "$src" && apt-get source -qq "pcre2=$v") >"$root/apt-source.log" 2>&1; then
      got=$v
      break
    fi
  done
  if [ -z "$got" ]; then
    cat "$root/apt-source.log" >&2
    echo "apt-get source pcre2 failed for every version" >&2
    exit 1
  fi
  ls -d "$src"/pcre2-*/ | head -n1
}

build_pcre2() {
  [ -f "$prefix/.pcre2-done" ] && return
  local src
  src=$(pcre2_source)
  local bld=$root/build-pcre2-$triple
  rm -rf "$bld"
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
    -DPCRE2_BUILD_PCRE2_8=OFF -DPCRE2_BUILD_PCRE2_16=ON -DPCRE2_BUILD_PCRE2_32=OFF \
    -DPCRE2_SUPPORT_UNICODE=ON -DPCRE2_SUPPORT_JIT=OFF -DPCRE2_BUILD_PCRE2GREP=OFF \
    -DPCRE2_BUILD_TESTS=OFF >/dev/null
  cmake --build "$bld" -j "$jobs" >/dev/null
  cmake --install "$bld" >/dev/null
  rm -rf "$bld"
  touch "$prefix/.pcre2-done"
}

build_gtest() {
  [ -f "$prefix/.gtest-done" ] && return
  local bld=$root/build-gtest-$triple
  rm -rf "$bld"
  cmake -S /usr/src/googletest -B "$bld" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -Dgtest_disable_pthreads=ON >/dev/null
  cmake --build "$bld" -j "$jobs" >/dev/null
  cmake --install "$bld" >/dev/null
  rm -rf "$bld"
  touch "$prefix/.gtest-done"
}

mkdir -p "$prefix"
build_pcre2
build_gtest
echo "$prefix"
