#!/bin/sh
# Power cut at every point of a commit. The emulated flash kills `zelctl commit` right
# after its K-th erase, inside it (the block left torn), or after N bytes of its K-th
# write; the next boot must read the old settings whole or the new ones whole.
#
# One player runs the sweep: before each cut the partition gets the starting image
# back, and after it a fresh `zelctl init` reads the partition, as the player's boot
# does. Fresh players then boot over images kept from a few cut points of each phase,
# to show that such a boot reads what the sweep's `zelctl init` read.
# usage: power_cut_e2e.sh ZELPLAYER BUILD_DIR
#        power_cut_e2e.sh --inside DIR   (the sweep, inside the player)
set -u

if [ "$1" = --inside ]; then
    dir=$2
    # shellcheck source=testsupport/testlib.sh
    . "$dir/testlib.sh"
    cd "$dir" || exit 1
    old=$dir/old.file new=$dir/new.file

    # The boot gave the settings of a new image: the old settings. The new ones
    # change some and add one, so that their text is longer.
    cp /tmp/setting.txt "$old"
    cp /dev/mtd1 "$dir/older_tool.img"
    zelctl set upnp=0 nzb=1 probe=cut
    cp /tmp/setting.txt "$new"
    text_len=$(($(wc -c < "$new") - 1))
    cp "$old" /tmp/setting.txt
    zelctl commit
    cp /dev/mtd1 "$dir/committed.img"
    head -c 65536 "$dir/older_tool.img" > "$dir/no_room.img"
    # The last boot's restore failed: offset 0 erased (a commit cut after its second
    # erase, then a boot whose erase failed), the spare copy the one whole copy.
    { head -c 65536 /dev/zero | tr '\0' '\377'; tail -c +65537 "$dir/committed.img"; } > "$dir/restore_failed.img"

    # Bytes a cut write programs: one, up to the text's NUL, 512-byte steps through the
    # image, and the spare copy's trailer (its last 16 bytes); 0 is each write's probe.
    counts="1 $((text_len - 1)) $text_len $((text_len + 1))"
    n=512
    while [ $n -le 65536 ]; do
        counts="$counts $n"
        n=$((n + 512))
    done
    counts="$counts 65520 65524 65528 65532 65535"

    # cut START CUT: commits the new settings over START under CUT, then boots. 1 when
    # the commit was not cut (no such request). Sets $got to old, new, empty or other.
    cut() {
        cat "$1" > /dev/mtd1
        cp "$new" /tmp/setting.txt
        echo "$2" > /dev/mtd1.cut
        zelctl commit 2>/dev/null
        rc=$?
        rm -f /dev/mtd1.cut
        [ $rc = 137 ] || return 1
        rm -f /tmp/setting.txt
        zelctl init 2>/dev/null
        if cmp -s /tmp/setting.txt "$old"; then
            got=old
        elif cmp -s /tmp/setting.txt "$new"; then
            got=new
        elif printf '\0' | cmp -s - /tmp/setting.txt; then
            got=empty
        else
            got=other
        fi
        tried=$((tried + 1))
        case $got in old | new) ;; *) lost=$((lost + 1)) ;; esac
        return 0
    }

    # keep NAME: the image after this cut, for a fresh player to boot over.
    keep() {
        cp /dev/mtd1 "$dir/keep.$1.img"
        echo "$got" > "$dir/keep.$1.want"
    }

    # The killed commit held the settings lock: it went with the process.
    lock_released() {
        cp "$new" /tmp/setting.txt
        timeout 5 zelctl set after=1
    }

    # The sweep's outcomes hold CUT:SETTINGS.
    has_outcome() { case " $outcomes " in *" $1 "*) ;; *) false ;; esac; }
    # sweep NAME START: every erase and every write of one commit.
    sweep() {
        name=$1 from=$2 tried=0 lost=0 outcomes=""
        k=1
        while cut "$from" "erase $k"; do
            outcomes="$outcomes erase$k:$got"
            check "$name: lock released after erase $k" -- lock_released
            cut "$from" "erase $k torn"
            outcomes="$outcomes erase${k}torn:$got"
            [ "$name" != no_room ] && [ "$name" != older_tool ] && keep "$name.erase$k.torn"
            k=$((k + 1))
        done
        erases=$((k - 1))
        k=1
        while cut "$from" "write $k 0"; do
            outcomes="$outcomes write$k.0:$got"
            for n in $counts; do
                cut "$from" "write $k $n"
                outcomes="$outcomes write$k.$n:$got"
                [ "$n" = "$text_len" ] && [ "$name" != older_tool ] && keep "$name.write$k.$n"
            done
            k=$((k + 1))
        done
        writes=$((k - 1))
        echo "$name: text of $text_len bytes, $erases erases, $writes writes, $tried cut points, $lost settings lost"
    }

    # Room for a spare copy (128 KiB in 64 KiB blocks), from an image this code
    # committed and from one an older tool wrote (no spare copy yet).
    all_tried=0 all_lost=0
    for start in committed older_tool; do
        sweep "$start" "$dir/$start.img"
        all_tried=$((all_tried + tried)) all_lost=$((all_lost + lost))
        expect_eq "$start: every erase and write of the commit" "$erases $writes" "2 2"
        expect_eq "$start: settings lost" "$lost" 0
        expect_eq "$start: cut points" "$tried" $((2 * 2 + 2 * (1 + $(echo $counts | wc -w))))
        # The old settings until the spare copy is whole, then the new ones.
        for o in erase1:old erase1torn:old write1.65535:old write1.65536:new erase2:new erase2torn:new write2.0:new; do
            check "$start: cut at ${o%:*} boots the ${o#*:} settings" -- has_outcome "$o"
        done
    done
    echo "$all_tried $all_lost" > "$dir/committed.figure"

    # After a failed restore the spare copy is the last whole one: the commit writes
    # offset 0 first, and the old settings stay until the new ones are whole there.
    sweep restore_failed "$dir/restore_failed.img"
    expect_eq "restore_failed: every erase and write of the commit" "$erases $writes" "2 2"
    expect_eq "restore_failed: settings lost" "$lost" 0
    for o in erase1:old write1.0:old write1.65536:old erase2:new erase2torn:new write2.0:new; do
        check "restore_failed: cut at ${o%:*} boots the ${o#*:} settings" -- has_outcome "$o"
    done
    echo "$tried $lost" > "$dir/restore_failed.figure"

    # No room for a spare copy (64 KiB): the single image, as before. A cut between
    # the erase and the text's NUL empties the store; a torn erase leaves what the
    # random bytes make.
    sweep no_room "$dir/no_room.img"
    expect_eq "no_room: one erase, one write" "$erases $writes" "1 1"
    wrong=""
    for o in $outcomes; do
        point=${o%:*} got=${o#*:}
        case $point in
        erase1torn) continue ;;
        erase1) want=empty ;;
        write1.*) [ "${point#write1.}" -gt "$text_len" ] && want=new || want=empty ;;
        esac
        [ "$got" = "$want" ] || wrong="$wrong $o(want $want)"
    done
    expect_eq "no_room: empty store until the NUL, then the new settings" "$wrong" ""
    echo "$tried $lost" > "$dir/no_room.figure"
    printf '\0' > "$dir/empty.file"
    # The image a cut write leaves: the first N bytes of the new one, then erased.
    for n in 20 $text_len 65000; do
        cut "$dir/no_room.img" "write 1 $n"
        { cat "$new"; head -c $((65535 - text_len)) /dev/zero; } | head -c $n > want.img
        head -c $((65536 - n)) /dev/zero | tr '\0' '\377' >> want.img
        expect_file "no_room: flash after a cut at $n bytes" /dev/mtd1 want.img
    done
    finish
fi

player=$1 build=$2
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cp "$here/../../testsupport/testlib.sh" "$here/power_cut_e2e.sh" "$dir/"
# shellcheck source=testsupport/testlib.sh
. "$dir/testlib.sh"

"$player" --build "$build" --bind "$dir" -- sh "$dir/power_cut_e2e.sh" --inside "$dir"
check "the sweep inside one player" -- [ $? = 0 ]

# Fresh players over images kept after cuts in each phase: the boot reads what the
# sweep's zelctl init read.
for img in "$dir"/keep.*.img; do
    name=${img#"$dir"/keep.}
    name=${name%.img}
    want=$(cat "$dir/keep.$name.want")
    "$player" --build "$build" --flash "$img" --bind "$dir" -- cp /tmp/setting.txt "$dir/boot.file"
    expect_file "fresh boot after $name: the $want settings" "$dir/boot.file" "$dir/$want.file"
done
echo "figures (cut points, settings lost): with a spare copy $(cat "$dir/committed.figure")," \
    "after a failed restore $(cat "$dir/restore_failed.figure"), without room $(cat "$dir/no_room.figure")"
finish
