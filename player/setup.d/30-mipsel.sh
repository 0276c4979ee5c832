# shellcheck shell=bash
# Sourced while the player's root ($R) is built: for --target mipsel, the helpers
# that MIPS programs preload, as their host builds do: the flash emulation always,
# the clock of --speed when asked.
[[ "${ZP_TARGET:-host}" == mipsel ]] || return 0

# The host's loader and uClibc's both read /etc/ld.so.preload. The host's expands
# $LIB (to lib/x86_64-linux-gnu), uClibc's takes the name as it is: one line
# names the host's build of the flash emulation for the one, the MIPS build (in a
# folder really called "$LIB") for the other.
zp_mips_lib="$R/player/\$LIB"
zp_host_lib="$R/player/lib/$(uname -m)-linux-gnu"
mkdir -p "$zp_mips_lib" "$zp_host_lib"
cp -a "$ZP_MIPSEL_HELPERS"/libzel_mtdemu.so "$ZP_MIPSEL_HELPERS"/libzel_speed.so "$zp_mips_lib/"
if [[ -e "$R/player/bin/libzel_mtdemu.so" ]]; then
  ln -s /player/bin/libzel_mtdemu.so "$zp_host_lib/libzel_mtdemu.so"
  echo '/player/$LIB/libzel_mtdemu.so' >"$R/etc/ld.so.preload"
fi

# libfaketime (the host programs' LD_PRELOAD under --speed) cannot load into a
# MIPS program: qemu-user gives MIPS programs an LD_PRELOAD of their own, and the
# MIPS clock puts the host's back (ZP_HOST_PRELOAD) for the programs they start.
if [[ -n "${ZP_SPEED:-}" ]]; then
  envlist+=('QEMU_SET_ENV=LD_PRELOAD=/player/$LIB/libzel_speed.so'
            "ZP_HOST_PRELOAD=/usr/lib/$(uname -m)-linux-gnu/faketime/libfaketime.so.1")
fi
unset zp_mips_lib zp_host_lib
