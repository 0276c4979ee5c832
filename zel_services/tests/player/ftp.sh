#!/bin/bash
# FTP account with a stand-in pure-pw: which commands run, with which words and input.
source "$(dirname "$0")/lib.sh"
PW=/mnt/oak7210/bin/pure-pw
passwd_call() { echo "pure-pw passwd|$1|-f|/etc/pureftpd.passwd|-m"; }
useradd_call="pure-pw useradd|ftpuser|-f|/etc/pureftpd.passwd|-u|1001|-g|1001|-d|/share"

case_ "no password file and no database: create the account, then set the password"
reset_scene
printf 'n3w\nn3w\n' | zs cmd=ftp_passwd opt=ftpuser
expect_eq "$(calls)" "$useradd_call
$(passwd_call ftpuser)" "tool calls"
expect_text "$tools/1-pure-pw.stdin" $'\n\n'
# The caller's standard input reaches the password change.
expect_text "$tools/2-pure-pw.stdin" $'n3w\nn3w\n'
expect_absent /tmp/input.script

case_ "either file present: only the password change"
for f in /etc/pureftpd.passwd /etc/pureftpd.pdb; do
  reset_scene
  touch $f
  zs cmd=ftp_passwd opt=ftpuser < /dev/null
  expect_eq "$(calls)" "$(passwd_call ftpuser)" "with $f"
done

case_ "a failing account creation leaves the answer file; the change still runs"
reset_scene
touch /player/switches/pure-pw-fail
zs cmd=ftp_passwd opt=ftpuser < /dev/null
expect_text /tmp/input.script $'\n\n'
expect_eq "$(calls)" "$useradd_call
$(passwd_call ftpuser)" "tool calls"

case_ "shell text in the login reaches pure-pw as one word and never runs"
for login in 'x; touch /tmp/pwned' '$(touch /tmp/pwned)' '`touch /tmp/pwned`' \
             "it's | touch /tmp/pwned" 'a && touch /tmp/pwned #'; do
  reset_scene
  touch /etc/pureftpd.passwd
  zs cmd=ftp_passwd "opt=$login" < /dev/null
  expect_text "$tools/1-pure-pw.args" "passwd
$login
-f
/etc/pureftpd.passwd
-m
"
  expect_absent /tmp/pwned
done

case_ "an empty login stays an empty word"
reset_scene
touch /etc/pureftpd.passwd
zs cmd=ftp_passwd no-option < /dev/null
expect_eq "$(calls)" "$(passwd_call '')" "tool calls"

case_ "a login that would cut the command line is refused before anything runs"
reset_scene
zs cmd=ftp_passwd "opt=$(printf 'u%.0s' {1..195})" < /dev/null
expect_eq "$err" "[zel_services] FTP login too long!" "message"
expect_eq "$(calls)" "" "tool calls"
expect_absent /tmp/input.script /etc/pureftpd.passwd
zs cmd=ftp_passwd "opt=$(printf 'u%.0s' {1..194})" < /dev/null
expect_eq "$(calls | tail -n1)" "$(passwd_call "$(printf 'u%.0s' {1..194})")" "194 characters fit"

finish
