#!/usr/bin/env bash
# Builds the project the way Buildroot and OpenWrt call CMake (their toolchain
# file, a release build, BUILD_TESTING=OFF, make, `make install` with DESTDIR) and
# checks the installed tree: every program where the player looks for it, built
# for the toolchain's machine, the library and header for other packages, the
# service programs free of libstdc++, and nothing else.
#
#   check_install.sh SOURCE_DIR WORK_DIR [TOOLCHAIN_FILE [CMAKE_ARG...]]
#
# CMAKE_ARGs are what the toolchain file asks for (-DZEL_CROSS_TRIPLE=...).
set -euo pipefail
src=$1 work=$2 toolchain=${3:-}
shift $(($# < 3 ? $# : 3))

rm -rf "$work"
mkdir -p "$work"
# The preset holds what they pass: Makefiles, their own optimisation in CFLAGS and
# CXXFLAGS with CMake's Release flags kept down to -DNDEBUG, no tests, static libraries.
args=(--preset packaging -B "$work/build")
[[ -z "$toolchain" ]] || args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" "$@")
(cd "$src" && cmake "${args[@]}") >"$work.log" 2>&1 ||
  { cat "$work.log"; exit 1; }
make -C "$work/build" -j"$(nproc)" >>"$work.log" 2>&1 || { tail -40 "$work.log"; exit 1; }
make -C "$work/build" install DESTDIR="$work/root" >>"$work.log" 2>&1 ||
  { tail -40 "$work.log"; exit 1; }

# shellcheck source=scripts/build_lib.sh
. "$src/scripts/build_lib.sh"
root=$work/root
bin=$root$zel_bin_dir
# shellcheck source=testsupport/testlib.sh
. "$src/testsupport/testlib.sh"

# Every program the build declares (programs.txt: "NAME ROLE" lines).
list=$work/build/programs.txt
mapfile -t programs < <(cut -d' ' -f1 "$list")
((${#programs[@]})) || { echo "check_install: $list names no program" >&2; exit 1; }
host_machine=$(readelf -h /bin/sh | sed -n 's/ *Machine: *//p')
machine=
for p in "${programs[@]}"; do
  check "$p installed in $zel_bin_dir" -- [ -x "$bin/$p" ] || continue
  m=$(readelf -h "$bin/$p" | sed -n 's/ *Machine: *//p')
  [[ -z "$machine" ]] || expect_eq "$p built for the others' machine" "$m" "$machine"
  machine=$m
done
[[ -z "$toolchain" ]] ||
  check "programs built with $toolchain, not for the host ($host_machine)" -- [ "$machine" != "$host_machine" ]
for f in usr/include/zelmsg.h usr/include/zel_paths.h etc/init.d/S60zeldaemon; do
  expect_file "/$f installed" "$root/$f"
done
# The header stands alone for a C program of another package; zelctl's own API
# (zelmsg/tool/zelmsg_tool.h) stays in the build.
check "installed zelmsg.h compiles alone as C" \
  -- sh -c 'echo "#include <zelmsg.h>" | cc -fsyntax-only -I"$1" -x c -' sh "$root/usr/include"
check "installed zelmsg.h leaves out zelctl's API" \
  -- not grep -Eq 'zelmsg_(load_file|init_flash|read_flash_report|flash_report)' "$root/usr/include/zelmsg.h"
check "the boot scripts' paths of zel_paths.h filled in" -- not grep -rq '@ZEL_' "$root/etc/init.d"
# A Debian host puts libraries in a multiarch folder under /usr/lib.
lib_installed() { [[ -n "$(find "$root/usr" -path "*/lib*/$1" 2>/dev/null)" ]]; }
for f in libzelmsg.a libzelmsg_nolock.a; do
  check "$f installed" -- lib_installed "$f"
done

# Nothing else: no test programs, no helpers of the simulated player.
unexpected=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort |
  grep -Ev "^(${zel_bin_dir#/}/.*|etc/init\.d/.*|usr/include/zel(msg|_paths)\.h|usr/lib[^/]*/(.*/)?libzelmsg[^/]*\\.a)\$" || true)
expect_eq "nothing else installed" "$unexpected" ""

# OpenWrt starts the daemon from a procd script of its own, which the package's
# Makefile installs: well-formed, and running the installed daemon in the foreground
# under procd's respawn.
procd=$src/packaging/openwrt/files/zeldaemon.init
check "procd script well-formed" -- sh -n "$procd"
# shellcheck disable=SC2016 # make's $(INSTALL_BIN) and $(1), as the Makefile writes them
check "packaging/openwrt/Makefile installs the procd script" \
  -- grep -q '^\s*$(INSTALL_BIN) \./files/zeldaemon\.init $(1)/etc/init\.d/zeldaemon$' "$src/packaging/openwrt/Makefile"
params=$(sh -c '
  procd_open_instance() { echo open; }
  procd_set_param() { echo "$*"; }
  procd_close_instance() { echo close; }
  . "$1"
  [ "$USE_PROCD" = 1 ] && start_service' procd "$procd") || params=""
params_have() { grep "$@" <<<"$params"; }
check "procd script: USE_PROCD=1 and start_service runs" -- [ -n "$params" ]
check "procd script runs $zel_bin_dir/zeldaemon as it is, in the foreground" \
  -- params_have -qx "command $zel_bin_dir/zeldaemon"
check "procd script sets respawn" -- params_have -q '^respawn'

services=()
while read -r p role; do
  [[ $role == service && -f "$bin/$p" ]] && services+=("$bin/$p")
done <"$list"
((${#services[@]} == 0)) ||
  check "service programs free of libstdc++" -- "$(dirname "$0")/../tests/target/check_no_libstdcxx.sh" "${services[@]}"

echo "installed for ${machine:-?}:"
(cd "$root" && find . -type f | sed 's|^\./|  /|' | sort)
finish
