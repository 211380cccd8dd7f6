#!/usr/bin/env bash
# Postfix on loopback (as root, as Postfix wants) with its configuration, queue and maildirs under DIR: one
# listener offering everything, one without 8BITMIME and SMTPUTF8 and with a SIZE of 2000 bytes. Known
# recipients me, you, jörg @example.org and b@bücher.example land in DIR/mail/{me,you,jorg,idn}.
# Usage: postfix.sh DIR. Once listening, prints "PORT PLAIN_PORT" and runs until standard input closes.
set -eu
dir=$1
port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
all=$(port) plain=$(port)
mkdir -p "$dir"/{queue,data,mail}
chown postfix:root "$dir/data"
chown nobody:"$(id -g nobody)" "$dir/mail"
printf '%s\n' "compatibility_level = 3.6" "queue_directory = $dir/queue" "data_directory = $dir/data" \
  "meta_directory = /etc/postfix" "mail_owner = postfix" "setgid_group = postdrop" "inet_interfaces = 127.0.0.1" \
  "inet_protocols = ipv4" "myhostname = kv-test.example" "mydestination =" "mynetworks = 127.0.0.0/8" \
  "maillog_file_prefixes = $dir" "maillog_file = $dir/maillog" "smtputf8_enable = yes" "alias_maps =" \
  "virtual_mailbox_domains = example.org, xn--bcher-kva.example" "virtual_mailbox_base = $dir/mail" \
  "virtual_mailbox_maps = inline:{ me@example.org=me/, you@example.org=you/, jörg@example.org=jorg/, b@xn--bcher-kva.example=idn/ }" \
  "virtual_uid_maps = static:$(id -u nobody)" "virtual_gid_maps = static:$(id -g nobody)" \
  "smtpd_relay_restrictions = permit_mynetworks, reject_unauth_destination" >"$dir/main.cf"
printf '%s\n' "127.0.0.1:$all inet n - n - - smtpd" \
  "127.0.0.1:$plain inet n - n - - smtpd -o smtpd_discard_ehlo_keywords=8bitmime,smtputf8 -o message_size_limit=2000" \
  "pickup unix n - n 60 1 pickup" "cleanup unix n - n - 0 cleanup" "qmgr unix n - n 300 1 qmgr" \
  "rewrite unix - - n - - trivial-rewrite" "bounce unix - - n - 0 bounce" "defer unix - - n - 0 bounce" \
  "trace unix - - n - 0 bounce" "verify unix - - n - 1 verify" "flush unix n - n 1000? 0 flush" \
  "proxymap unix - - n - - proxymap" "smtp unix - - n - - smtp" "relay unix - - n - - smtp" \
  "showq unix n - n - - showq" "error unix - - n - - error" "retry unix - - n - - error" \
  "discard unix - - n - - discard" "virtual unix - n n - - virtual" "anvil unix - - n - 1 anvil" \
  "scache unix - - n - 1 scache" "postlog unix-dgram n - n - 1 postlogd" >"$dir/master.cf"
# The master daemon leaves when told; DIR may go only after it.
stop() {
  master=$(cat "$dir/queue/pid/master.pid" 2>/dev/null) || return 0
  /usr/sbin/postfix -c "$dir" stop >/dev/null 2>&1
  for _ in $(seq 100); do kill -0 $master 2>/dev/null || break; sleep 0.05; done
}
trap stop EXIT
/usr/sbin/postfix -c "$dir" start >"$dir/start.log" 2>&1
for p in $all $plain; do
  for i in $(seq 101); do
    [ "$i" -le 100 ] || { cat "$dir/start.log" "$dir/maillog" >&2; exit 1; }
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && break || sleep 0.05
  done
done
echo "$all $plain"
cat >/dev/null
