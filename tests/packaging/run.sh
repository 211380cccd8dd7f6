#!/usr/bin/env bash
# The library as a user gets it: installed into a staging prefix, the README's
# example built from outside the tree through pkg-config and find_package and
# sending to aiosmtpd, packed as .deb files, checked, installed into a root.
# No pipefail: "producer | grep -q" stops reading at the first match, and the
# producer's SIGPIPE is no failure; a producer that fails prints nothing to match.
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$src/build/linux-package
cd "$src"
cmake --preset linux-package >/dev/null
cmake --build --preset linux-package -j "$(nproc)"

work=$(mktemp -d /tmp/kv-packaging-XXXXXX)
sink_pid=
cleanup() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "packaging: $*" >&2; exit 1; }

echo "== cmake --install into a staging prefix"
stage=$work/stage
cmake --install "$build" --prefix "$stage" >/dev/null
lib=$(find "$stage" -name liborkv14.so.0)
[ -n "$lib" ] || fail "no liborkv14.so.0 installed"
libdir=$(dirname "$lib")
# The headers, orkv14.pc, the package configuration with its version file and
# the link library: the two consumers below build only when all are there.
[ ! -e "$stage/share/doc" ] || fail "cmake --install wrote the Debian documents"
readelf -d "$lib" | grep -q 'Library soname: \[liborkv14.so.0\]' || fail "the soname is not liborkv14.so.0"
# Every symbol the library defines for others is in the version node, and only those.
leaked=$(readelf --dyn-syms -W "$lib" | awk '$7 != "UND" && $8 ~ /@/ && $8 !~ /@@ORKV14_0$/ {print $8}')
[ -z "$leaked" ] || fail "exported outside ORKV14_0: $leaked"
[ "$(readelf --dyn-syms -W "$lib" | grep -c '@@ORKV14_0$')" -ge 20 ] || fail "the entry points are not in ORKV14_0"
zcat "$stage/share/man/man1/kvmail.1.gz" | grep -qF 'password\-file' || fail "the manual page lacks --help's options"

echo "== two consumers outside the tree, against a loopback aiosmtpd"
mkdir -p "$work/pc" "$work/cm" "$work/mail"
awk '/^```cpp$/ {take = 1; next} /^```$/ {take = 0} take' README.md >"$work/hello.cpp"
[ -s "$work/hello.cpp" ] || fail "no C++ example in README.md"
export PKG_CONFIG_PATH=$libdir/pkgconfig
version=$(pkg-config --modversion orkv14)
LD_LIBRARY_PATH=$libdir "$stage/bin/kvmail" --version | grep -qx "kvmail (orkv14) $version" ||
  fail "orkv14.pc and kvmail --version disagree"
# shellcheck disable=SC2046
g++ -std=c++17 -Wall -Wextra -Werror "$work/hello.cpp" -o "$work/pc/hello" $(pkg-config --cflags --libs orkv14)
cat >"$work/cm/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(hello CXX)
find_package(orkv14 ${version%%.*} REQUIRED)
add_executable(hello $work/hello.cpp)
target_compile_features(hello PRIVATE cxx_std_17)
target_link_libraries(hello PRIVATE orkv14::orkv14)
CMAKE
cmake -S "$work/cm" -B "$work/cm/build" -G Ninja -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/cm/build" >/dev/null

coproc SINK { exec /usr/bin/python3 "$src/tests/integration/servers/smtp_sink.py" "$work/mail"; }
sink_pid=$SINK_PID
read -r port <&"${SINK[0]}"
n=0
for hello in "$work/pc/hello" "$work/cm/build/hello"; do
  # Loaded from the staging prefix, not from the build tree.
  LD_LIBRARY_PATH=$libdir ldd "$hello" | grep -q "liborkv14.so.0 => $libdir/" || fail "$hello does not load $lib"
  out=$(LD_LIBRARY_PATH=$libdir "$hello" 127.0.0.1 "$port") || fail "$hello: $out"
  n=$((n + 1))
  grep -q "^Subject: Hello from orkv14 $version" "$work/mail/$n.eml" ||
    fail "$hello: the mail did not arrive"
done

echo "== Debian packages"
debs=$work/debs
cpack --config "$build/CPackConfig.cmake" -B "$debs" >/dev/null
arch=$(dpkg --print-architecture)
runtime=$debs/liborkv14-0_${version}_$arch.deb dev=$debs/liborkv14-dev_${version}_$arch.deb
kvmail=$debs/kvmail_${version}_$arch.deb
contents() { dpkg-deb --contents "$1" | awk '{print $6}'; }
contents "$runtime" | grep -qx "./usr/lib/.*/liborkv14.so.0" || fail "the runtime package lacks liborkv14.so.0"
contents "$runtime" | grep -q "include/\|\.so$" && fail "the runtime package holds development files"
dpkg-deb --ctrl-tarfile "$runtime" | tar -xO ./shlibs | grep -qx "liborkv14 0 liborkv14-0 (>= $version)" ||
  fail "the runtime package has no shlibs entry"
dpkg-deb --field "$runtime" Depends | grep -q "libidn2-0" || fail "the runtime package does not depend on libidn2"
for f in include/orkv14/orkv14.hpp pkgconfig/orkv14.pc cmake/orkv14/orkv14Config.cmake liborkv14.so; do
  contents "$dev" | grep -q "/$f$" || fail "the -dev package lacks $f"
done
dpkg-deb --field "$dev" Depends | grep -q "liborkv14-0 (= $version)" || fail "the -dev package does not depend on the library"
contents "$kvmail" | grep -qx "./usr/share/man/man1/kvmail.1.gz" || fail "the kvmail package lacks its manual page"
dpkg-deb --field "$kvmail" Depends | grep -q "liborkv14-0" || fail "kvmail does not depend on the library"
lintian --fail-on error "$runtime" "$dev" "$kvmail" || fail "lintian found errors"

echo "== dpkg -i into a throw-away root"
root=$work/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info" "$root/var/log" "$work/bin"
# The root holds no libc: the host's entries for the packages the .deb files
# depend on stand in, so dpkg checks those dependencies against real versions.
deps=$(for d in "$runtime" "$dev" "$kvmail"; do dpkg-deb --field "$d" Depends; done |
       tr ',' '\n' | awk '$1 !~ /^liborkv14/ {print $1}' | sort -u)
for d in $deps; do
  { dpkg-query --status "$d:$arch" 2>/dev/null || dpkg-query --status "$d"; } && echo
done >"$root/var/lib/dpkg/status"
# Maintainer scripts run outside the root (it has no shell), where the host's
# ldconfig must not stand for the root's.
printf '#!/bin/sh\nexit 0\n' >"$work/bin/ldconfig"
chmod +x "$work/bin/ldconfig"
PATH=$work/bin:$PATH dpkg --root="$root" --log="$root/var/log/dpkg.log" --force-script-chrootless \
  -i "$runtime" "$dev" "$kvmail" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
dpkg --root="$root" -l liborkv14-0 liborkv14-dev kvmail | grep -c '^ii' | grep -qx 3 || fail "not all three installed"
rootlib=$(dirname "$(find "$root/usr/lib" -name liborkv14.so.0)")
info=$(LD_LIBRARY_PATH=$rootlib "$root/usr/bin/kvmail" info)
echo "$info" | grep -q "^component: \[liborkv14.so.0.0.0 $version.0\]" || fail "kvmail info: $info"
LD_LIBRARY_PATH=$rootlib ldd "$root/usr/bin/kvmail" | grep -q "liborkv14.so.0 => $rootlib/" ||
  fail "kvmail from the root does not load the root's library"
echo "packaging: all checks passed"
