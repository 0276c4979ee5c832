# shellcheck shell=bash
# Configuring, building and installing one preset's tree, sourced by ./zel,
# scripts/cross.sh and the test stages. Each tree is build/PRESET (the presets'
# binaryDir); an install goes into a staging root with DESTDIR and prefix /usr,
# the way firmware build systems install.

zel_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The build's places that the scripts name, written once. The staging root of the
# player's MIPS programs (./zel cross mipsel), and the simulated player's MIPS
# helpers.
# shellcheck disable=SC2034 # for the scripts that source this file, as the next
zel_rootfs_mipsel=$zel_top/build/rootfs-mipsel
# shellcheck disable=SC2034
zel_mipsel_helpers=$zel_top/build/cross-mipsel-player/player/bin
# The programs' folder of the firmware, ZEL_BIN_DIR of zel_paths.h (one literal
# string there), as every staging root holds it.
# shellcheck disable=SC2034
zel_bin_dir=$(sed -n 's/^#define ZEL_BIN_DIR "\(.*\)"$/\1/p' "$zel_top/zelmsg/include/zel_paths.h")

# zel_configure PRESET [CMAKE ARGS...]: the tree build/PRESET from its preset,
# cmake's report dropped (its errors stay on stderr). A tree that an older checkout
# made from another source folder, or with a toolchain file that is gone, is made
# anew: cmake would stop on either.
zel_configure() {
  local bdir="$zel_top/build/$1" sys toolchain stale=0
  if [[ -f "$bdir/CMakeCache.txt" ]]; then
    grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$zel_top" "$bdir/CMakeCache.txt" || stale=1
    # The toolchain file as the tree's first configure read it.
    for sys in "$bdir"/CMakeFiles/*/CMakeSystem.cmake; do
      [[ -f "$sys" ]] || continue
      toolchain=$(sed -n 's/^include("\(.*\)")$/\1/p' "$sys")
      [[ -z "$toolchain" || -e "$toolchain" ]] || stale=1
    done
    ((stale == 0)) || rm -rf "$bdir"
  fi
  (cd "$zel_top" && cmake --preset "$@") >/dev/null
}

# zel_build PRESET [TARGET...]: configures and builds build/PRESET (only the
# TARGETs when given), one job per core.
zel_build() {
  local preset=$1 targets=()
  shift
  if (($#)); then targets=(--target "$@"); fi
  zel_configure "$preset" &&
    cmake --build "$zel_top/build/$preset" -j"$(nproc 2>/dev/null || echo 2)" "${targets[@]}"
}

# zel_install TREE ROOT: TREE installed into the staging root ROOT, which is
# emptied first.
zel_install() {
  rm -rf "$2" &&
    DESTDIR="$2" cmake --install "$1" --prefix /usr >/dev/null
}

# zel_build_install PRESET ROOT [TARGET...]: zel_build, then the tree installed
# into ROOT.
zel_build_install() {
  local preset=$1 root=$2
  shift 2
  zel_build "$preset" "$@" && zel_install "$zel_top/build/$preset" "$root"
}
