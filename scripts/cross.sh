#!/usr/bin/env bash
# Cross-builds the system for the player (MIPS: every program) and for the ARM
# system of shmpoke (shmpoke and the library), the way a firmware build does it:
# toolchain file, release build, `cmake --install` into a staging root.
#
#   scripts/cross.sh [--tests] [mipsel|arm]...
#
#   build/cross-<target>    build tree
#   build/rootfs-<target>   staging root (programs under mnt/oak7210/bin)
#   --tests                 also build the unit tests (GoogleTest cross-built once
#                           from /usr/src/googletest, kept under build/.gtest) and
#                           run them, and the footprint checks, under qemu-user
#
# ZEL_CROSS_COMPONENTS_<target> overrides the folder list of one target.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tests=0
targets=()
for a in "$@"; do
  case "$a" in
    --tests) tests=1 ;;
    mipsel|arm) targets+=("$a") ;;
    *) echo "usage: $0 [--tests] [mipsel|arm]..." >&2; exit 2 ;;
  esac
done
((${#targets[@]})) || targets=(mipsel arm)
jobs=-j2

triple_of() {
  case "$1" in
    mipsel) echo mipsel-linux-gnu ;;
    arm) echo arm-linux-gnueabi ;;
  esac
}

# The player runs every program; the ARM system only runs shmpoke. The tests of
# the library, arraygen and shmpoke run on both.
components_of() {
  local var="ZEL_CROSS_COMPONENTS_$1"
  if [[ -n "${!var:-}" ]]; then echo "${!var}"; return; fi
  case "$1" in
    mipsel) echo "zelmsg;zeldaemon;reset_zel;zel_services;arraygen;shmpoke;zelctl" ;;
    arm) ((tests)) && echo "zelmsg;arraygen;shmpoke" || echo "zelmsg;shmpoke" ;;
  esac
}

# GoogleTest has no cross package: build Debian's sources with the same toolchain
# file, once per toolchain file and googletest version.
gtest_for() {
  local triple=$1 toolchain=$2
  local dir="$top/build/.gtest/$triple"
  local stamp
  stamp="$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || true) $(sha1sum <"$toolchain")"
  if [[ -f "$dir/install/lib/cmake/GTest/GTestConfig.cmake" && "$(cat "$dir/stamp" 2>/dev/null)" == "$stamp" ]]; then
    echo "$dir/install/lib/cmake/GTest"
    return
  fi
  rm -rf "$dir"
  echo "cross: building GoogleTest for $triple" >&2
  cmake -S /usr/src/googletest -B "$dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$dir/install" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
  cmake --build "$dir/build" "$jobs" >/dev/null
  cmake --install "$dir/build" >/dev/null
  rm -rf "$dir/build"
  echo "$stamp" >"$dir/stamp"
  echo "$dir/install/lib/cmake/GTest"
}

# Ninja targets for the installed programs and libraries and for every file that the
# unit and footprint tests start or name.
needed_targets() {
  local bdir=$1 f
  {
    printf '%s\n' zelmsg zelmsg_nolock zeldaemon reset_zel zel_services arraygen shmpoke zelctl
    ctest --test-dir "$bdir" -L 'unit|footprint' --show-only=json-v1 |
      grep -o "$bdir/[^\"]*" | sed "s|^$bdir/||"
  } | sort -u | while read -r f; do
    ninja -C "$bdir" -t query "$f" >/dev/null 2>&1 && echo "$f"
  done
}

rc=0
for t in "${targets[@]}"; do
  triple=$(triple_of "$t")
  toolchain="$top/cmake/toolchains/$triple.cmake"
  if ! command -v "$triple-g++" >/dev/null; then
    echo "cross: $triple-g++ not found (Debian package g++-$triple); $t skipped" >&2
    rc=1
    continue
  fi
  comps=$(components_of "$t")
  args=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel)
  if ((tests)); then
    args+=(-DBUILD_TESTING=ON -DGTest_DIR="$(gtest_for "$triple" "$toolchain")" "-DZEL_COMPONENTS=$comps;tests")
  else
    args+=(-DBUILD_TESTING=OFF "-DZEL_COMPONENTS=$comps")
  fi
  bdir="$top/build/cross-$t"
  root="$top/build/rootfs-$t"
  echo "cross: $t ($triple): $comps"
  cmake -S "$top" -B "$bdir" -G Ninja "${args[@]}" >/dev/null
  if ((tests)); then
    # Only what ships and what the target's tests run: other test programs may
    # need the host (preload libraries, the simulated player).
    mapfile -t want < <(needed_targets "$bdir")
    if ! cmake --build "$bdir" "$jobs" --target "${want[@]}" -- -k 0; then
      echo "cross: $t: some targets did not build (their tests are reported as not run)" >&2
      rc=1
    fi
  elif ! cmake --build "$bdir" "$jobs"; then
    echo "cross: $t build FAILED" >&2
    rc=1
    continue
  fi
  rm -rf "$root"
  DESTDIR="$root" cmake --install "$bdir" --prefix /usr >/dev/null ||
    { echo "cross: $t install FAILED" >&2; rc=1; }
  echo "cross: $t programs in ${root#"$top"/}/mnt/oak7210/bin:" \
    $(ls "$root/mnt/oak7210/bin" 2>/dev/null)
  if ((tests)); then
    ctest --test-dir "$bdir" -L 'unit|footprint' "$jobs" --output-on-failure || rc=1
  fi
done
exit $rc
