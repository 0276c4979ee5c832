#!/bin/bash
# FTP account with a stand-in pure-pw: which commands run, with which words and input.
set -u
# shellcheck source=testsupport/zel_services_lib.sh
source "$(dirname "$0")/../../../testsupport/zel_services_lib.sh"
passwd_call() { echo "pure-pw passwd|$1|-f|/etc/pureftpd.passwd|-m"; }
useradd_call="pure-pw useradd|ftpuser|-f|/etc/pureftpd.passwd|-u|1001|-g|1001|-d|/share"

case_ "no password file and no database: create the account, then set the password"
reset_scene
printf 'n3w\nn3w\n' | zs cmd=ftp_passwd opt=ftpuser
expect_eq "$c: tool calls" "$(calls)" "$useradd_call
$(passwd_call ftpuser)"
expect_file "$c: answers of useradd" "$tools/1-pure-pw.stdin" "$(want $'\n\n')"
# The caller's standard input reaches the password change.
expect_file "$c: input of passwd" "$tools/2-pure-pw.stdin" "$(want $'n3w\nn3w\n')"
expect_no_file "$c: answer file removed" /tmp/input.script

case_ "either file present: only the password change"
for f in /etc/pureftpd.passwd /etc/pureftpd.pdb; do
  reset_scene
  touch $f
  zs cmd=ftp_passwd opt=ftpuser < /dev/null
  expect_eq "$c: with $f" "$(calls)" "$(passwd_call ftpuser)"
done

case_ "a failing account creation leaves the answer file; the change still runs"
reset_scene
touch /player/switches/pure-pw-fail
zs cmd=ftp_passwd opt=ftpuser < /dev/null
expect_file "$c: answer file" /tmp/input.script "$(want $'\n\n')"
expect_eq "$c: tool calls" "$(calls)" "$useradd_call
$(passwd_call ftpuser)"

case_ "shell text in the login reaches pure-pw as one word and never runs"
for login in 'x; touch /tmp/pwned' '$(touch /tmp/pwned)' '`touch /tmp/pwned`' \
             "it's | touch /tmp/pwned" 'a && touch /tmp/pwned #'; do
  reset_scene
  touch /etc/pureftpd.passwd
  zs cmd=ftp_passwd "opt=$login" < /dev/null
  expect_file "$c: words of [$login]" "$tools/1-pure-pw.args" "$(want "passwd
$login
-f
/etc/pureftpd.passwd
-m
")"
  expect_no_file "$c: [$login] ran nothing" /tmp/pwned
done

case_ "an empty login stays an empty word"
reset_scene
touch /etc/pureftpd.passwd
zs cmd=ftp_passwd no-option < /dev/null
expect_eq "$c: tool calls" "$(calls)" "$(passwd_call '')"

case_ "a login that would cut the command line is refused before anything runs"
reset_scene
zs cmd=ftp_passwd "opt=$(printf 'u%.0s' $(seq 195))" < /dev/null
expect_eq "$c: message" "$err" "[zel_services] FTP login too long!"
expect_eq "$c: tool calls" "$(calls)" ""
expect_no_file "$c: nothing written" /tmp/input.script /etc/pureftpd.passwd
zs cmd=ftp_passwd "opt=$(printf 'u%.0s' $(seq 194))" < /dev/null
expect_eq "$c: 194 characters fit" "$(calls | tail -n1)" "$(passwd_call "$(printf 'u%.0s' $(seq 194))")"

finish
