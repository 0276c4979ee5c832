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
# The player's programs link against its own C library, uClibc-ng, built once by
# scripts/uclibc.sh (cmake/toolchains/mipsel-uclibc.cmake); its runtime goes to
# build/rootfs-mipsel/lib, and the simulated player's MIPS helpers (flash
# emulation, clock) to build/cross-mipsel-player/player/bin. GoogleTest needs
# libstdc++, which has no uClibc build here: the MIPS unit tests are built in
# build/cross-mipsel-glibc with the static glibc toolchain
# (cmake/toolchains/mipsel-linux-gnu.cmake), which installs nothing.
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

# build_tree NAME TOOLCHAIN COMPONENTS TESTS [ROOT]: configures and builds
# build/NAME; with TESTS 1 also the unit tests, which it runs; with ROOT installs
# into that staging root.
build_tree() {
  local name=$1 toolchain=$2 comps=$3 with_tests=$4 root=${5:-}
  local bdir="$top/build/$name" triple
  triple=$(basename "$toolchain" .cmake)
  local args=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel)
  if ((with_tests)); then
    args+=(-DBUILD_TESTING=ON -DGTest_DIR="$(gtest_for "$triple" "$toolchain")" "-DZEL_COMPONENTS=$comps;tests")
  else
    args+=(-DBUILD_TESTING=OFF "-DZEL_COMPONENTS=$comps")
  fi
  echo "cross: $name ($triple): $comps"
  # CMake keeps the toolchain of a tree's first configure: a tree made with another
  # one (an older checkout's) is built anew.
  if [[ -f "$bdir/CMakeCache.txt" && "$(cat "$bdir/zel-toolchain" 2>/dev/null)" != "$toolchain" ]]; then
    rm -rf "$bdir"
  fi
  cmake -S "$top" -B "$bdir" -G Ninja "${args[@]}" >/dev/null || { echo "cross: $name configure FAILED" >&2; return 1; }
  echo "$toolchain" >"$bdir/zel-toolchain"
  local ok=0
  if ((with_tests)); then
    # Only what ships and what the target's tests run: other test programs may
    # need the host (preload libraries, the simulated player).
    mapfile -t want < <(needed_targets "$bdir")
    if ! cmake --build "$bdir" "$jobs" --target "${want[@]}" -- -k 0; then
      echo "cross: $name: some targets did not build (their tests are reported as not run)" >&2
      ok=1
    fi
  elif ! cmake --build "$bdir" "$jobs"; then
    echo "cross: $name build FAILED" >&2
    return 1
  fi
  if [[ -n "$root" ]]; then
    rm -rf "$root"
    DESTDIR="$root" cmake --install "$bdir" --prefix /usr >/dev/null ||
      { echo "cross: $name install FAILED" >&2; ok=1; }
    # shellcheck disable=SC2046 # the names on one line
    echo "cross: $name programs in ${root#"$top"/}/mnt/oak7210/bin:" \
      $(ls "$root/mnt/oak7210/bin" 2>/dev/null)
  fi
  if ((with_tests)); then
    ctest --test-dir "$bdir" -L 'unit|footprint' "$jobs" --output-on-failure || ok=1
  fi
  return $ok
}

# check_uclibc ROOT: every installed program asks for uClibc's loader and needs
# only libraries that the staging root's /lib holds.
check_uclibc() {
  local root=$1 p lib bad=0
  for p in "$root"/mnt/oak7210/bin/*; do
    if ! readelf -l "$p" 2>/dev/null | grep -q 'interpreter: /lib/ld-uClibc.so.0\]'; then
      echo "cross: ${p#"$root"}: ELF interpreter is not /lib/ld-uClibc.so.0" >&2
      bad=1
    fi
    for lib in $(readelf -d "$p" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      [[ -e "$root/lib/$lib" ]] ||
        { echo "cross: ${p#"$root"} needs $lib, which is not uClibc's" >&2; bad=1; }
    done
  done
  return $bad
}

# The player: programs against uClibc into the staging root, with the C library's
# runtime; the simulated player's MIPS helpers; the unit tests on the stand-in.
build_mipsel() {
  local sysroot root="$top/build/rootfs-mipsel" ok=0
  sysroot=$(bash "$top/scripts/uclibc.sh") || return 1
  local tc="$top/cmake/toolchains/mipsel-uclibc.cmake"
  build_tree cross-mipsel "$tc" "$(components_of mipsel)" 0 "$root" || return 1
  mkdir -p "$root/lib"
  cp -a "$sysroot"/lib/ld-uClibc* "$sysroot"/lib/libc.so.* "$sysroot"/lib/libuClibc-* "$root/lib/"
  check_uclibc "$root" || ok=1
  echo "cross: mipsel player helpers"
  { cmake -S "$top/player/mipsel" -B "$top/build/cross-mipsel-player" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=MinSizeRel -DZEL_UCLIBC_SYSROOT="$sysroot" >/dev/null &&
    cmake --build "$top/build/cross-mipsel-player" "$jobs" >/dev/null; } ||
    { echo "cross: mipsel player helpers FAILED" >&2; ok=1; }
  if ((tests)); then
    build_tree cross-mipsel-glibc "$top/cmake/toolchains/mipsel-linux-gnu.cmake" \
      "$(components_of mipsel)" 1 || ok=1
  fi
  return $ok
}

rc=0
for t in "${targets[@]}"; do
  triple=$(triple_of "$t")
  if ! command -v "$triple-g++" >/dev/null; then
    echo "cross: $triple-g++ not found (Debian package g++-$triple); $t skipped" >&2
    rc=1
    continue
  fi
  if [[ $t == mipsel ]]; then
    build_mipsel || rc=1
  else
    build_tree "cross-$t" "$top/cmake/toolchains/$triple.cmake" "$(components_of "$t")" "$tests" \
      "$top/build/rootfs-$t" || rc=1
  fi
done
exit $rc
