# shellcheck shell=sh
# The tests' shell vocabulary, in plain POSIX sh: BusyBox ash inside the simulated
# player and on the virtual board runs it as well as dash and bash outside. Source it,
# use the checks, end with "finish". It needs nothing of a player, so host-side scripts
# use it too. What needs a player builds on it, beside it in testsupport/:
#   e2e_lib.sh           sources this file; the service table, the journal, restart-all
#   faults_lib.sh        sources e2e_lib.sh; the daemon restarted with its log kept
#   zel_services_lib.sh  sources this file; zel_services runs, scenes, stand-in calls
#
#   check NAME -- CMD [ARG...]   CMD (a program or a function) run with its arguments
#                                must succeed; shell syntax goes into a named function
#   not CMD [ARG...]             succeeds when CMD fails: "check NAME -- not CMD ..."
#   expect_eq NAME ACTUAL WANTED the two texts are equal
#   expect_file NAME PATH [GOLDEN]
#                                PATH exists; with GOLDEN, it holds GOLDEN's bytes
#   expect_no_file NAME PATH...  none of the paths exists
#   wait_for SECONDS -- CMD [ARG...]
#                                runs CMD every tenth of a second (of the player's
#                                clock, which may run fast) until it succeeds; 1 on
#                                time-out
#   on_board                     true on the virtual board (player/board), where
#                                ZP_BOARD names the flash chip
#   case_ NAME                   names the case the checks that follow are part of,
#                                in $c: check "$c: what" -- ...
#   skip NAME WHY                a check that cannot run on this player, and why
#   finish                       prints "N passed, N failed" (", N skipped"); exit
#                                status 1 on a failure
#
# Every check prints "ok   NAME" or "FAIL NAME" with what differed, and returns 1 when
# it failed (check ... || continue).

t_passed=0
t_failed=0
t_skipped=0
# The case's name (case_), for the scripts' check names.
# shellcheck disable=SC2034
c=""

t_ok() {
    t_passed=$((t_passed + 1))
    echo "ok   $1"
}

t_fail() {
    t_failed=$((t_failed + 1))
    echo "FAIL $1"
    return 1
}

# A check or a wait without "--" and a command (a shell text, as they once took) would
# run something else than what it means: it is a failure, said on standard error.
t_usage() {
    [ "${3:-}" = -- ] && [ $# -ge 4 ] && return 0
    echo "$1 ${2:-}: usage: $1 ${2:-?} -- CMD [ARG...]" >&2
    return 1
}

check() {
    _t_name=$1
    t_usage check "$@" || { t_fail "$_t_name"; return; }
    shift 2
    if "$@"; then t_ok "$_t_name"; else t_fail "$_t_name"; fi
}

not() { ! "$@"; }

expect_eq() {
    if [ "$2" = "$3" ]; then
        t_ok "$1"
    else
        t_fail "$1"
        printf '     got:  [%s]\n     want: [%s]\n' "$2" "$3"
        return 1
    fi
}

expect_file() {
    if [ ! -e "$2" ]; then
        t_fail "$1"
        echo "     $2 missing"
        return 1
    elif [ -n "${3:-}" ] && ! cmp -s "$2" "$3"; then
        t_fail "$1"
        echo "     $2 differs from $3:"
        diff -u "$3" "$2" | head -40 | sed 's/^/     /'
        return 1
    else
        t_ok "$1"
    fi
}

expect_no_file() {
    _t_name=$1
    shift
    _t_left=
    for _t_p; do [ -e "$_t_p" ] && _t_left="$_t_left $_t_p"; done
    if [ -z "$_t_left" ]; then
        t_ok "$_t_name"
    else
        t_fail "$_t_name"
        echo "     still there:$_t_left"
        return 1
    fi
}

wait_for() {
    t_usage wait_for "$@" || return
    _t_n=0
    _t_max=$(($1 * 10))
    shift 2
    while [ $_t_n -lt $_t_max ]; do
        "$@" && return 0
        sleep 0.1
        _t_n=$((_t_n + 1))
    done
    return 1
}

# shellcheck disable=SC2034
case_() { c=$1; }

on_board() { [ -n "${ZP_BOARD:-}" ]; }

skip() {
    t_skipped=$((t_skipped + 1))
    echo "skip $1: $2"
}

finish() {
    _t_skips=""
    [ "$t_skipped" -eq 0 ] || _t_skips=", $t_skipped skipped"
    echo "$t_passed passed, $t_failed failed$_t_skips"
    [ "$t_failed" -eq 0 ] && [ "$t_passed" -gt 0 ]
    exit $?
}
