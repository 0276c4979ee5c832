#!/bin/sh
# A registration whose profile cannot run it stops the configure, naming the suite and
# the profile; the runs of those it can are made from the record alone. A player or a
# board asked for no command, with no terminal for a shell, refuses with a usage line.
# usage: profiles.sh SOURCE_DIR CMAKE
set -u
top=$1 cmake=$2
# shellcheck source=testsupport/testlib.sh
. "$top/testsupport/testlib.sh"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT

# configure NAME LINE...: a project of its own over cmake/ZelTesting.cmake with these
# lines of registration, then every profile's runs; its output, lines joined, in
# $dir/NAME.out.
configure() {
    _name=$1
    shift
    mkdir "$dir/$_name"
    {
        printf '%s\n' 'cmake_minimum_required(VERSION 3.25)' 'project(profiles LANGUAGES NONE)' \
            'enable_testing()' "include($top/cmake/ZelTesting.cmake)"
        printf '%s\n' "$@"
        printf '%s\n' 'zel_profile_runs(kernel26)' 'zel_profile_runs(mipsel)' 'set(plan "")' \
            'zel_profile_runs(board PLAN plan)' 'file(WRITE ${PROJECT_BINARY_DIR}/plan "${plan}")'
    } >"$dir/$_name/CMakeLists.txt"
    "$cmake" -S "$dir/$_name" -B "$dir/$_name/build" >"$dir/$_name.log" 2>&1
    _rc=$?
    tr -s ' \n' '  ' <"$dir/$_name.log" >"$dir/$_name.out"
    return $_rc
}
says() { grep -qF -- "$2" "$dir/$1.out"; }

# Each refusal: what is registered, and what the configure says.
n=0
while IFS='|' read -r line message; do
    n=$((n + 1))
    not configure "refused$n" "$line"
    expect_eq "$line: the configure stops" $? 0
    check "$line: it says \"$message\"" -- says "refused$n" "$message"
done <<'TABLE'
zel_gtest(t NAME a.store RUN private_root PROFILES kernel26 mipsel SOURCES t.cpp)|a.store: profile mipsel refused: a private-root test runs a program built for the host
zel_gtest(t NAME a.store RUN private_root PROFILES board=nand SOURCES t.cpp)|a.store: profile board refused: a private-root test runs a program built for the host
zel_gtest(t NAME a.gtest RUN player PROFILES mipsel SOURCES t.cpp)|a.gtest: profile mipsel refused: a GoogleTest program is built for the host
zel_gtest(t NAME a.gtest RUN player PROFILES board SOURCES t.cpp)|a.gtest: profile board refused: a GoogleTest program is built for the host
zel_gtest(t NAME a.unit PROFILES kernel26 SOURCES t.cpp)|a.unit: profile kernel26 refused: a host test runs on the build host only
zel_player_test(NAME a.tool PROFILES board COMMAND $<TARGET_FILE:t>)|a.tool: profile board refused: its command runs a program built for the host
zel_launcher_test(NAME a.two PROFILES kernel26 COMMAND sh two.sh PLAYER)|a.two: profile kernel26 refused: a launcher starts its players itself
zel_player_test(NAME a.e2e PROFILES board=nor,nand-4k COMMAND sh e2e.sh)|a.e2e: profile board=nand-4k refused: the board's chips are nor;nand;nand-2k;ram
zel_player_test(NAME a.e2e PROFILES mips COMMAND sh e2e.sh)|a.e2e: profile mips is none of kernel26, mipsel, board
zel_player_test(NAME a.e2e PROFILES board COMMAND sh -c "echo a\necho b")|a.e2e@nor: the board's plan takes a word a line, and this one holds a newline: echo a echo b
TABLE

# What every profile can run: its runs, and the board's plan lines per chip.
configure allowed \
    'zel_player_test(NAME a.e2e PROFILES kernel26 mipsel=a_e2e board=nor,nand-2k PLAYER_ARGS --daemon COMMAND bash e2e.sh)' \
    'zel_launcher_test(NAME a.two TIMEOUT 60 PROFILES mipsel board COMMAND sh two.sh PLAYER)'
expect_eq "allowed profiles: the configure ends well" $? 0
runs=$("$(dirname "$cmake")/ctest" --test-dir "$dir/allowed/build" -N | sed -n 's/^ *Test *#[0-9]*: //p' | sort | paste -sd' ' -)
expect_eq "allowed profiles: the runs" "$runs" \
    "a.e2e a.two board.two kernel26.a.e2e mipsel.a_e2e mipsel.two"
expect_eq "allowed profiles: the board's plan, in sh" "$(cat "$dir/allowed/build/plan")" \
    "$(printf '%s\n' "player a.e2e@nor" "arg --chip" "arg nor" "arg --daemon" "arg --" "arg sh" "arg e2e.sh" \
        "player a.e2e@nand-2k" "arg --chip" "arg nand-2k" "arg --daemon" "arg --" "arg sh" "arg e2e.sh")"

# No command and no terminal: a usage line, status 2, no player or board started.
for launcher in player/zelplayer player/board/board; do
    "$top/$launcher" </dev/null >"$dir/out" 2>"$dir/err"
    expect_eq "$launcher with no command and no terminal: status 2" $? 2
    check "$launcher: a usage line" -- grep -q '^usage: .* -- CMD' "$dir/err"
done
finish
