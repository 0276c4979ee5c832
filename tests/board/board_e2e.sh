#!/bin/sh
# ./zel board itself: what the command prints and exits with reaches the caller
# byte for byte, standard input reaches the command, a board that overruns its time
# is powered off with its console log kept, leaving no qemu behind, and a qemu that
# cannot start is reported. The command's words arrive as they were given, on the
# command line and in a plan. And a store that another user gives a second name, on the
# board where the kernel's protection of hard links can be switched off.
# usage: board_e2e.sh BOARD BUILD_DIR
set -u
board=$1 build=$2
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT

printf 'line one\nline two' | "$board" --build "$build" -- sh -c \
  'cat; printf "\r\n\001\377 end"; echo "to stderr" >&2; exit 7' >"$dir/out" 2>"$dir/err"
expect_eq "the command's exit status" $? 7
printf 'line one\nline two\r\n\001\377 end' >"$dir/want"
expect_file "its standard input and output, byte for byte" "$dir/out" "$dir/want"
check "its standard error" -- grep -qx 'to stderr' "$dir/err"

# Its work folder under $dir: the qemu looked for below is this board's, not another
# checkout's.
TMPDIR=$dir "$board" --build "$build" --timeout 20 -- sh -c 'echo started; sleep 600' >"$dir/out" 2>"$dir/err" &
pid=$!
wait $pid
expect_eq "a board past its time: status 124" $? 124
check "it said so, with the console log" -- grep -q 'timed out after 20 s (console log: ' "$dir/err"
log=$(sed -n 's/.*(console log: \(.*\))$/\1/p' "$dir/err")
console_log_kept() { [ -s "$log" ] && grep -q 'Linux version' "$log"; }
check "the console log kept" -- console_log_kept
check "the command had started" -- grep -qx started "$dir/out"
no_qemu() { ! pgrep -f "qemu-system-mipsel.*$dir/zelboard" >/dev/null; }
check "no qemu left" -- no_qemu
rm -f "$log"

# A qemu that fails at its start: the board says so at once, it does not wait for
# output that never comes.
mkdir "$dir/bin"
printf '#!/bin/sh\nexit 1\n' >"$dir/bin/qemu-system-mipsel"
chmod +x "$dir/bin/qemu-system-mipsel"
PATH=$dir/bin:$PATH timeout 60 "$board" --build "$build" -- true >/dev/null 2>"$dir/err"
expect_eq "a qemu that fails at its start: status 125" $? 125
check "it said so" -- grep -q 'the board gave no status (console log: ' "$dir/err"
rm -f "$(sed -n 's/.*(console log: \(.*\))$/\1/p' "$dir/err")"
# Words reach the command as they were given: on the command line, and in a plan (a
# word a line, "arg WORD"), one each to the byte; an environment variable of --env the
# same. A newline is carried on the command line, not in a plan; it is refused where a
# value goes to the board as a line. A word of the table is a line of it; the empty
# word and newlines come after.
set --
while IFS= read -r w; do set -- "$@" "$w"; done <<'WORDS'
two  blanks
 leading and trailing 
'single' "double" quotes, 'half
$HOME ${x} $(true) `true` $1 "$@"
back\slash \\ \n \t \0101 \c end\
* ? [a] ~ ; & | < > # !
--
-c
player x
arg y
été — über
WORDS
set -- "$@" "" "$(printf 'tab\tand cr\r')"
printf '[%s]\n' "$@" >"$dir/want"
nl=$(printf 'a\nb\n\n.')
nl=${nl%.}
printf '[%s]\n' "$@" "$nl" "env: $nl \\n \$x" >"$dir/want.cmdline"
"$board" --build "$build" --env "ZEL_WORD=$nl \\n \$x" -- sh -c 'printf "[%s]\n" "$@" "env: $ZEL_WORD"' sh \
  "$@" "$nl" >"$dir/out" 2>"$dir/err"
expect_eq "words on the command line: the board's status" $? 0
expect_file "words on the command line: each one as it was" "$dir/out" "$dir/want.cmdline"
{
  printf '%s\n' "player words" "arg --bind" "arg $dir" "arg --" "arg sh" "arg -c" \
    'arg printf "[%s]\n" "$@" >"$0"' "arg $dir/out"
  for w; do printf 'arg %s\n' "$w"; done
} >"$dir/plan"
"$board" --build "$build" --plan "$dir/plan" >"$dir/plan.log" 2>&1
expect_eq "words in a plan: the board's status" $? 0
expect_file "words in a plan: each one as it was" "$dir/out" "$dir/want"
# Refused before the board starts: status 2 and the reason.
printf '%s\n' "player a" "arg --" "word true" >"$dir/plan.bad"
printf '%s\n' "arg --" "player a" "arg true" >"$dir/plan.early"
while IFS='|' read -r what reason; do
  case $what in
    plan.*) "$board" --build "$build" --plan "$dir/$what" >/dev/null 2>"$dir/err" ;;
    *) "$board" --build "$build" "$what" "$nl" -- true >/dev/null 2>"$dir/err" ;;
  esac
  expect_eq "$what refused: status 2" $? 2
  check "$what refused: $reason" -- grep -qF "$reason" "$dir/err"
done <<'REFUSED'
--disk|board: --disk: a newline in "a
--net|board: --net: a newline in "a
--speed|board: --speed: a newline in "a
plan.bad|plan.bad:3: neither "player NAME" nor "arg WORD": word true
plan.early|plan.early:1: an arg before the first player
REFUSED

# A second name of the settings file, made by a user who is not root on a kernel that
# protects no hard link (as the player's 2.6 does not): zelctl still reads, writes and
# commits, and the second name keeps the old text. With the protection on, that user
# cannot make the link at all.
"$board" --build "$build" -- sh -c '
  as_user() { su -s /bin/sh ftpuser -c "$*"; }
  as_user ln /tmp/setting.txt /tmp/.mine 2>/dev/null && echo "protected: linked"
  echo 0 > /proc/sys/fs/protected_hardlinks
  cp /tmp/setting.txt /tmp/old
  as_user ln /tmp/setting.txt /tmp/.mine && echo "linked by 1001"
  zelctl get upnp >/dev/null; echo "get $?"
  zelctl set upnp=7; echo "set $?"
  echo "value $(zelctl get upnp)"
  zelctl commit; echo "commit $?"
  cmp -s /tmp/.mine /tmp/old && echo "second name: old text"
  [ /tmp/setting.txt -ef /tmp/.mine ] || echo "the path: a file of its own"
' >"$dir/out" 2>"$dir/err"
expect_eq "a second name: the board's status" $? 0
printf '%s\n' "linked by 1001" "get 0" "set 0" "value 7" "commit 0" "second name: old text" \
  "the path: a file of its own" >"$dir/want"
expect_file "a second name: zelctl get, set and commit work, the name keeps the old text" "$dir/out" "$dir/want"
check "a second name: nothing on standard error" -- not test -s "$dir/err"
finish
