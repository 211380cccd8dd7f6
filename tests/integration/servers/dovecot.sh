#!/usr/bin/env bash
# dovecot's POP3 (and IMAP) server on loopback over a maildir under DIR/mail.
#   dovecot.sh DIR USER PASSWORD [--imap] [--apop] [--mechanisms "plain cram-md5"] [--tls CERT KEY]
# Prints "POP3 POP3S IMAP IMAPS UID GID" once listening (0: not served; the
# mail's owner: nobody as root) and runs until standard input closes.
set -eu
dir=$1 user=$2 password=$3 imap= apop= mechanisms=plain cert=
shift 3
while (($#)); do
  case $1 in
    --imap) imap=1 ;;
    --apop) apop=" apop" ;;
    --mechanisms) mechanisms=$2; shift ;;
    --tls) cert=$2 key=$3; shift 2 ;;
  esac
  shift
done
port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
listener() { # service, port (0: none), ssl
  [ "$2" = 0 ] || printf '  inet_listener %s {\n    port = %s\n    ssl = %s\n  }\n' "$1" "$2" "$3"
}
pop3=$(port) pop3s=0 imap143=0 imaps=0
[ -z "$cert" ] || pop3s=$(port)
[ -z "$imap" ] || imap143=$(port)
[ -z "$imap" ] || [ -z "$cert" ] || imaps=$(port)
ssl="ssl = no"
[ -z "$cert" ] || ssl=$(printf 'ssl = yes\nssl_cert = <%s\nssl_key = <%s' "$cert" "$key")
uid=$(id -u) gid=$(id -g) login=$(id -un)
[ "$uid" != 0 ] || uid=$(id -u nobody) gid=$(id -g nobody) login=dovenull
mkdir -p "$dir"/{run,state,mail,home}
printf '%s:{PLAIN}%s::::::\n' "$user" "$password" >"$dir/users"
cat >"$dir/dovecot.conf" <<EOF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = pop3${imap:+ imap}
listen = 127.0.0.1
$ssl
disable_plaintext_auth = no
auth_mechanisms = $mechanisms$apop
auth_failure_delay = 0
mail_location = maildir:$dir/mail/%u
first_valid_uid = 0
first_valid_gid = 0
default_login_user = $login
default_internal_user = $login
passdb {
  driver = passwd-file
  args = scheme=PLAIN $dir/users
}
userdb {
  driver = static
  args = uid=$uid gid=$gid home=$dir/home/%u
}
service anvil {
  chroot =
}
service pop3-login {
  chroot =
$(listener pop3 "$pop3" no; listener pop3s "$pop3s" yes)
}
service imap-login {
  chroot =
$(listener imap "$imap143" no; listener imaps "$imaps" yes)
}
EOF
/usr/sbin/dovecot -F -c "$dir/dovecot.conf" >"$dir/stdout.log" 2>&1 </dev/null &
trap 'trap "" TERM; kill $! 2>/dev/null; wait $!' EXIT
trap exit TERM
for p in $pop3 $pop3s $imap143 $imaps; do
  for i in $(seq 100); do
    [ "$p" = 0 ] || (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && break
    [ "$i" -lt 100 ] || { cat "$dir/dovecot.log" "$dir/stdout.log" >&2; exit 1; }
    sleep 0.05
  done
done
echo "$pop3 $pop3s $imap143 $imaps $uid $gid"
cat >/dev/null
