#!/usr/bin/env bash
# Cross-builds the system for the player (MIPS: every program) and for the ARM
# system of shmpoke (shmpoke and the library), the way a firmware build does it:
# toolchain file, release build, `cmake --install` into a staging root. Each build
# tree is a preset of CMakePresets.json.
#
#   scripts/cross.sh [--tests] [mipsel|arm]...
#
#   build/cross-<target>    build tree (preset cross-<target>)
#   build/rootfs-<target>   staging root (programs under ZEL_BIN_DIR)
#   --tests                 also build the unit tests (with GoogleTest built from
#                           Debian's sources in the same tree) and run them, and the
#                           footprint checks, under qemu-user
#
# The player's programs link against its own C library, uClibc-ng, built once by
# scripts/uclibc.sh (cmake/toolchains/mipsel-uclibc.cmake); its runtime goes to
# the lib folder of the staging root, and the simulated player's MIPS helpers (flash
# emulation, clock) to build/cross-mipsel-player/player/bin (zel_rootfs_mipsel and
# zel_mipsel_helpers of scripts/build_lib.sh). GoogleTest needs libstdc++, which has
# no uClibc build here: the MIPS unit tests are built in build/cross-mipsel-glibc
# with the static glibc toolchain (cmake/toolchains/cross-glibc.cmake), which
# installs nothing.
#
# ZEL_CROSS_COMPONENTS_<target> overrides the folder list of one target.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
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
jobs=-j$(nproc)

triple_of() {
  case "$1" in
    mipsel) echo mipsel-linux-gnu ;;
    arm) echo arm-linux-gnueabi ;;
  esac
}

# The player runs every program (the presets' folders); the ARM system only runs
# shmpoke (its preset's). The tests of the library, arraygen and shmpoke run on both.
# Empty: the preset's folders.
components_of() {
  local var="ZEL_CROSS_COMPONENTS_$1"
  if [[ -n "${!var:-}" ]]; then echo "${!var}"; return; fi
  [[ $1 == arm ]] && ((tests)) && echo "zelmsg;arraygen;shmpoke"
  return 0
}

# Ninja targets for the installed programs and libraries and for every file that the
# unit and footprint tests start or name.
needed_targets() {
  local bdir=$1 f
  {
    printf '%s\n' zel_programs zelmsg zelmsg_nolock
    ctest --test-dir "$bdir" -L 'unit|footprint' --show-only=json-v1 |
      grep -o "$bdir/[^\"]*" | sed "s|^$bdir/||"
  } | sort -u | while read -r f; do
    ninja -C "$bdir" -t query "$f" >/dev/null 2>&1 && echo "$f"
  done
}

# build_tree PRESET COMPONENTS TESTS [ROOT]: configures and builds build/PRESET
# (COMPONENTS empty: the preset's folders); with TESTS 1 also the unit tests,
# which it runs; with ROOT installs into that staging root.
build_tree() {
  local name=$1 comps=$2 with_tests=$3 root=${4:-}
  local bdir="$top/build/$name"
  local args=()
  if ((with_tests)); then
    args+=(-DBUILD_TESTING=ON)
    [[ -z "$comps" ]] || args+=("-DZEL_COMPONENTS=$comps;tests")
  else
    [[ -z "$comps" ]] || args+=("-DZEL_COMPONENTS=$comps")
  fi
  echo "cross: $name${comps:+: $comps}"
  zel_configure "$name" "${args[@]}" ||
    { echo "cross: $name configure FAILED" >&2; return 1; }
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
    zel_install "$bdir" "$root" ||
      { echo "cross: $name install FAILED" >&2; ok=1; }
    # shellcheck disable=SC2046 # the names on one line
    echo "cross: $name programs in ${root#"$top"/}$zel_bin_dir:" \
      $(ls "$root$zel_bin_dir" 2>/dev/null)
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
  for p in "$root$zel_bin_dir"/*; do
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
  local sysroot root=$zel_rootfs_mipsel ok=0
  sysroot=$(bash "$top/scripts/uclibc.sh") || return 1
  export ZEL_UCLIBC_SYSROOT=$sysroot
  build_tree cross-mipsel "$(components_of mipsel)" 0 "$root" || return 1
  mkdir -p "$root/lib"
  cp -a "$sysroot"/lib/ld-uClibc* "$sysroot"/lib/libc.so.* "$sysroot"/lib/libuClibc-* "$root/lib/"
  check_uclibc "$root" || ok=1
  echo "cross: mipsel player helpers"
  { zel_configure cross-mipsel-player &&
    cmake --build "$top/build/cross-mipsel-player" "$jobs" >/dev/null; } ||
    { echo "cross: mipsel player helpers FAILED" >&2; ok=1; }
  if ((tests)); then
    build_tree cross-mipsel-glibc "$(components_of mipsel)" 1 || ok=1
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
    build_tree "cross-$t" "$(components_of "$t")" "$tests" "$top/build/rootfs-$t" || rc=1
  fi
done
exit $rc
