#!/usr/bin/env bash
# The automation objects under Wine, for one bitness, against loopback servers:
# the samples through Wine's cscript.exe (scripts) or the C++ clients (clients).
#   run.sh WINE x64|x86 BUILD_DIR SOURCE_DIR scripts|clients [TEST_EXE [gtest arguments]]
# orkv14auto.dll is registered per machine for the run (CreateObject needs its ProgIDs).
set -uo pipefail
wine=${1:?wine} arch=${2:?x64 or x86} build=${3:?build dir} root=${4:?source dir} mode=${5:?mode}
shift 5
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../support/servers.sh"

kv_native_wine "$arch"
native=$KV_WINE dll=$build/orkv14auto.dll
[ -f "$dll" ] || kv_fail "no $dll"
windows() { kv_windows_path "$1"; }

kv_temp_dir "auto-$arch"
dir=$KV_DIR
trap '"$native" regsvr32 /s /u "$(windows "$dll")" >/dev/null 2>&1; kv_stop_servers' EXIT
"$native" regsvr32 /s "$(windows "$dll")" || kv_fail "regsvr32 orkv14auto.dll"

# Runs a script; its output, without CRs, in $dir/NAME.out.
script() { # name, script, arguments...
  local name=$1 file=$2
  shift 2
  timeout 300 "$native" cscript //nologo "$(windows "$file")" "$@" 2>/dev/null | tr -d '\r' >"$dir/$name.out"
}
# Wine's script host reports no script error and ends with 0: every script's
# output is compared whole, so a script that stopped early shows.
same() { # name, expected text
  diff -u <(printf '%s\n' "$2") "$dir/$1.out" >"$dir/$1.diff" || { cat "$dir/$1.diff"; return 1; }
}

if [ "$mode" = clients ]; then
  exe=${1:?test executable}
  shift
  kv_start_smtp "$dir/sink"
  # The loader of the bitness itself: the generic one hands a 64-bit program on
  # through ShellExecute, which has failed to start it ("Internal error").
  KV_AUTO_SMTP_PORT=$KV_SMTP_PORT KV_AUTO_REFUSED_PORT=$(kv_free_port) "$native" "$exe" "$@"
  exit $?
fi
[ "$mode" = scripts ] || kv_fail "unknown mode $mode"

kv_start_smtp "$dir/sink" tim tanstaaf
kv_start_pop3 "$dir/pop3" anna secret
# A GIF of one pixel for the inline picture, and a text file to attach.
printf 'GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;' >"$dir/chart.gif"
cp "$root/samples/notes.txt" "$dir/notes.txt"

script send "$root/samples/vbscript/send_mail.vbs" 127.0.0.1 "$KV_SMTP_PORT" report@example.org anna@example.org \
  "$(windows "$dir/chart.gif")" "$(windows "$dir/notes.txt")" tim tanstaaf
kv_check "send_mail.vbs" same send "sent: 2 bodies, 1 attachment"
kv_check "the mail as it arrived" "$kv_python" "$here/check_mail.py" "$dir/sink/1.eml" "$dir/chart.gif" \
  "$dir/notes.txt" anna@example.org

mail() { # subject, body; a plain mail as delivered
  printf 'From: Bob <bob@example.org>\r\nTo: anna@example.org\r\nSubject: %s\r\nMessage-ID: <%s@example.org>\r\n' "$1" "${1// /.}"
  printf 'Date: Mon, 7 Oct 2024 09:00:00 +0200\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n%s\r\n' "$2"
}
mail Agenda "Items for Monday." >"$dir/m1"
mail Invoice "Please pay." >"$dir/m2"
cp "$dir/sink/1.eml" "$dir/m3"
for i in 1 2 3; do kv_deliver anna $i.kv "$dir/m$i"; done
script list "$root/samples/vbscript/list_mailbox.vbs" 127.0.0.1 "$KV_POP3_PORT" anna secret Invoice
kv_check "list_mailbox.vbs" same list "3 mails
mail: Agenda | Bob <bob@example.org>
  body: text/plain, 19 characters
mail: Invoice | Bob <bob@example.org>
  body: text/plain, 13 characters
mail: Report for October | report@example.org
  body: text/plain, 39 characters
  body: multipart/related, 131 characters
  attachment: notes.txt, $(stat -c %s "$dir/notes.txt") bytes
deleted: 1"
kv_check "only the invoice was deleted" [ "$(kv_messages_left anna)" = 2 ]
kv_check "the invoice is gone" bash -c "! grep -rqs 'Subject: Invoice' '$KV_POP3_DIR/mail/anna'"

script walk "$root/samples/jscript/walk_mail.js" "$(windows "$dir/notes.txt")" "$(windows "$dir/saved.eml")"
kv_check "walk_mail.js" same walk "to: charles@example.org
to: mary@example.org
cc: office@example.org
body: text/plain 27
body: text/html 39
attachment: notes.txt $(stat -c %s "$dir/notes.txt")
saved: Notes on the engine"
kv_check "the saved mail" grep -q '^Subject: Notes on the engine' "$dir/saved.eml"

[ "$kv_failed" -eq 0 ] || { echo "$kv_failed failed"; exit 1; }
echo "scripts: all passed"
