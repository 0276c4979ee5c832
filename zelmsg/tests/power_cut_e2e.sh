#!/bin/sh
# Power cut during a commit, then a reboot over the same flash image. The emulated
# flash kills the committing process right after the erase, or after N bytes of the
# image write. Each boot reads what the previous cut left (zelctl init at boot) and
# then commits again under the next cut, so one player serves two points.
# usage: power_cut_e2e.sh ZELPLAYER BUILD_DIR
player=$1 build=$2
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
img=$dir/flash.img
fail() { echo "FAIL: $*" >&2; exit 1; }

# The settings every boot commits, whatever it booted with.
text='\nupnp=1\nhlink=1\nftpserv=1\nsmbserv=1\nnfsserv=0\nwireless=0\nprobe=cut'
printf "$text\0" > "$dir/file"
text_len=$(($(stat -c %s "$dir/file") - 1))

# Inside the player: record what the boot gave, put the settings in place, commit
# under the cut $1 (or not at all when empty), and check that the same boot goes on.
inside='
zelctl show > '"$dir"'/boot.txt
cp /tmp/setting.txt '"$dir"'/boot.bytes
cp '"$dir"'/file /tmp/setting.txt
[ -n "$1" ] || exit 0
echo "$1" > /dev/mtd1.cut
zelctl commit 2>/dev/null
echo $? > '"$dir"'/commit.rc
# The killed commit held the settings lock: it went with the process.
timeout 5 zelctl set after=1 || exit 2
[ "$(zelctl get probe)" = cut ] || exit 3
'
boot() { # boot CUT: one player life
  "$player" --build "$build" --flash "$img" --bind "$dir" -- sh -c "$inside" inside "$1" \
    || fail "player with cut [$1] failed"
}

# The image a commit would write: the file's bytes, then the fresh process's
# zeroed buffer; after a cut at N bytes the rest of the partition stays erased.
expect_flash() { # expect_flash N
  size=$(stat -c %s "$dir/file")
  { cat "$dir/file"; head -c $((65536 - size)) /dev/zero; } | head -c "$1" > "$dir/want"
  head -c $((131072 - $1)) /dev/zero | tr '\0' '\377' >> "$dir/want"
  cmp -s "$dir/want" "$img" || fail "flash after cut [$cut]: $(cmp "$dir/want" "$img")"
}

# What the boot after a cut must give: an empty store (a file of one NUL), or the
# whole new settings.
expect_boot() { # expect_boot empty|new
  if [ "$1" = empty ]; then
    printf '\0' | cmp -s - "$dir/boot.bytes" || fail "boot after cut [$cut]: not an empty store"
    [ ! -s "$dir/boot.txt" ] || fail "boot after cut [$cut] shows records"
  else
    cmp -s "$dir/file" "$dir/boot.bytes" || fail "boot after cut [$cut]: not the committed settings"
  fi
}

# Cut points (cut:bytes programmed:what the next boot gives). The NUL after the
# text is the one byte that makes the new image whole; before it, the text runs on
# into erased bytes and the reader takes it for an empty store.
prev=""
for point in "erase:0:empty" "write 20:20:empty" "write $text_len:$text_len:empty" \
             "write $((text_len + 1)):$((text_len + 1)):new" "write 65000:65000:new" "::"; do
  boot "${point%%:*}"
  if [ -n "$prev" ]; then
    cut=${prev%%:*}
    expect_boot "${prev##*:}"
  fi
  cut=${point%%:*}
  [ -z "$cut" ] && break
  [ "$(cat "$dir/commit.rc")" = 137 ] || fail "commit under cut [$cut] was not killed"
  n=${point#*:}
  expect_flash "${n%%:*}"
  prev=$point
done
echo "power cut e2e passed"
