#!/usr/bin/env bash
# Loopback servers for the automation tests and the benchmark, sourced:
# aiosmtpd (tests/integration/servers/smtp_sink.py) and dovecot's POP3 server
# with a configuration of its own, as the integration fixtures start them.
# Everything started here ends with kv_stop_servers (set as the EXIT trap);
# KV_KEEP=1 keeps the temporary directories, to look at a failure.
# A missing peer fails: nothing here skips.

kv_python=/usr/bin/python3
kv_pids=()
kv_fds=()
kv_dirs=()

kv_fail() {
  echo "FAILED: $*"
  exit 1
}

kv_stop_servers() {
  local fd pid
  for fd in "${kv_fds[@]}"; do exec {fd}>&-; done
  for pid in "${kv_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  kv_pids=()
  kv_fds=()
  [ -n "${KV_KEEP:-}" ] || rm -rf "${kv_dirs[@]}"
}

kv_temp_dir() { # tag; the new directory in KV_DIR (no subshell: kv_dirs must see it)
  KV_DIR=$(mktemp -d "/tmp/kv-$1-XXXXXX") || kv_fail "no temporary directory"
  chmod 755 "$KV_DIR"
  kv_dirs+=("$KV_DIR")
}

kv_free_port() {
  "$kv_python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

kv_wait_port() { # port
  local _
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# aiosmtpd storing each mail as DIR/N.eml; sets KV_SMTP_PORT.
kv_start_smtp() { # dir [user password]
  "$kv_python" -c 'import aiosmtpd' 2>/dev/null || kv_fail "aiosmtpd is missing (python3-aiosmtpd)"
  local dir=$1
  shift
  mkdir -p "$dir"
  mkfifo "$dir.in"
  "$kv_python" "$(dirname "${BASH_SOURCE[0]}")/../../integration/servers/smtp_sink.py" "$dir" "$@" \
    <"$dir.in" >"$dir.port" 2>"$dir.log" &
  kv_pids+=($!)
  # Holding the write end keeps the sink running; closing it ends the sink.
  local fd
  exec {fd}>"$dir.in"
  kv_fds+=("$fd")
  for _ in $(seq 100); do
    [ -s "$dir.port" ] && break
    sleep 0.1
  done
  KV_SMTP_PORT=$(head -n1 "$dir.port")
  [ -n "$KV_SMTP_PORT" ] || { cat "$dir.log"; kv_fail "the SMTP sink did not start"; }
}

# dovecot's POP3 server over a maildir under DIR; sets KV_POP3_PORT.
# As root, the mail belongs to nobody and the login process runs as dovenull.
kv_start_pop3() { # dir user password
  [ -x /usr/sbin/dovecot ] || kv_fail "dovecot is missing (dovecot-pop3d)"
  local dir=$1 user=$2 password=$3 uid gid login
  mkdir -p "$dir"/{run,state,mail,home}
  printf '%s:{PLAIN}%s::::::\n' "$user" "$password" >"$dir/users"
  if [ "$(id -u)" = 0 ]; then
    uid=$(id -u nobody) gid=$(id -g nobody) login=dovenull
  else
    uid=$(id -u) gid=$(id -g) login=$(id -un)
  fi
  KV_POP3_PORT=$(kv_free_port)
  cat >"$dir/dovecot.conf" <<EOF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
mail_location = maildir:$dir/mail/%u
pop3_uidl_format = %08Xu%08Xv
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
service pop3-login {
  inet_listener pop3 {
    port = $KV_POP3_PORT
  }
  chroot =
}
service anvil {
  chroot =
}
EOF
  KV_POP3_DIR=$dir KV_POP3_UID=$uid KV_POP3_GID=$gid
  /usr/sbin/dovecot -F -c "$dir/dovecot.conf" >"$dir/stdout.log" 2>&1 &
  kv_pids+=($!)
  kv_wait_port "$KV_POP3_PORT" || { cat "$dir/dovecot.log" "$dir/stdout.log" 2>/dev/null; kv_fail "dovecot did not start"; }
}

# A message in the user's maildir, as delivered mail.
kv_deliver() { # user name file
  local box=$KV_POP3_DIR/mail/$1
  mkdir -p "$box"/{new,cur,tmp}
  cp "$3" "$box/new/$2"
  chown -R "$KV_POP3_UID:$KV_POP3_GID" "$KV_POP3_DIR/mail" "$KV_POP3_DIR/home"
}

kv_messages_left() { # user
  find "$KV_POP3_DIR/mail/$1/new" "$KV_POP3_DIR/mail/$1/cur" -type f 2>/dev/null | wc -l
}
