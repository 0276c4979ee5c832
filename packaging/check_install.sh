#!/usr/bin/env bash
# Builds the project the way Buildroot and OpenWrt call CMake (their toolchain
# file, a release build, BUILD_TESTING=OFF, make, `make install` with DESTDIR) and
# checks the installed tree: every program where the player looks for it, built
# for the toolchain's machine, the library and header for other packages, the
# service programs free of libstdc++, and nothing else.
#
#   check_install.sh SOURCE_DIR WORK_DIR [TOOLCHAIN_FILE]
set -euo pipefail
src=$1 work=$2 toolchain=${3:-}

rm -rf "$work"
# Both pass their own optimisation in CFLAGS/CXXFLAGS and keep CMake's Release
# flags down to -DNDEBUG.
export CFLAGS="-Os" CXXFLAGS="-Os"
args=(-G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
      -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
      -DBUILD_TESTING=OFF -DBUILD_SHARED_LIBS=OFF)
[[ -z "$toolchain" ]] || args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
cmake -S "$src" -B "$work/build" "${args[@]}" >"$work.log" 2>&1 ||
  { cat "$work.log"; exit 1; }
make -C "$work/build" -j2 >>"$work.log" 2>&1 || { tail -40 "$work.log"; exit 1; }
make -C "$work/build" install DESTDIR="$work/root" >>"$work.log" 2>&1 ||
  { tail -40 "$work.log"; exit 1; }

root=$work/root
bin=$root/mnt/oak7210/bin
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

programs=(zeldaemon reset_zel zel_services arraygen shmpoke)
host_machine=$(readelf -h /bin/sh | sed -n 's/ *Machine: *//p')
machine=
for p in "${programs[@]}"; do
  [[ -x "$bin/$p" ]] || { bad "$p not installed in /mnt/oak7210/bin"; continue; }
  m=$(readelf -h "$bin/$p" | sed -n 's/ *Machine: *//p')
  [[ -z "$machine" || "$m" == "$machine" ]] || bad "$p is built for $m, others for $machine"
  machine=$m
done
if [[ -n "$toolchain" && "$machine" == "$host_machine" ]]; then
  bad "programs are built for the host ($machine), not with $toolchain"
fi
for f in usr/include/zelmsg.h etc/init.d/S60zeldaemon; do
  [[ -f "$root/$f" ]] || bad "/$f not installed"
done
# A Debian host puts libraries in a multiarch folder under /usr/lib.
for f in libzelmsg.a libzelmsg_nolock.a; do
  [[ -n "$(find "$root/usr" -path "*/lib*/$f" 2>/dev/null)" ]] || bad "$f not installed"
done

# Nothing else: no test programs, no helpers of the simulated player.
while read -r f; do
  case "$f" in
    mnt/oak7210/bin/* | etc/init.d/* | usr/include/zelmsg.h | usr/lib*/libzelmsg*.a) ;;
    *) bad "unexpected file /$f" ;;
  esac
done < <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)

# OpenWrt starts the daemon from a procd script of its own, which the package's
# Makefile installs: well-formed, and running the installed daemon in the foreground
# under procd's respawn.
procd=$src/packaging/openwrt/files/zeldaemon.init
sh -n "$procd" || bad "procd script $procd: syntax error"
grep -q '^\s*$(INSTALL_BIN) \./files/zeldaemon\.init $(1)/etc/init\.d/zeldaemon$' \
  "$src/packaging/openwrt/Makefile" || bad "packaging/openwrt/Makefile does not install the procd script"
params=$(sh -c '
  procd_open_instance() { echo open; }
  procd_set_param() { echo "$*"; }
  procd_close_instance() { echo close; }
  . "$1"
  [ "$USE_PROCD" = 1 ] && start_service' procd "$procd") || bad "procd script: no USE_PROCD=1 or start_service failed"
grep -qx "command /mnt/oak7210/bin/zeldaemon" <<<"$params" ||
  bad "procd script does not run /mnt/oak7210/bin/zeldaemon as it is, in the foreground"
grep -q "^respawn" <<<"$params" || bad "procd script sets no respawn"

services=()
for p in zeldaemon reset_zel zel_services; do
  [[ -f "$bin/$p" ]] && services+=("$bin/$p")
done
((${#services[@]} == 0)) || "$(dirname "$0")/../tests/target/check_no_libstdcxx.sh" "${services[@]}" || fail=1

echo "installed for ${machine:-?}:"
(cd "$root" && find . -type f | sed 's|^\./|  /|' | sort)
exit $fail
