#!/usr/bin/env bash
# Loopback servers for the Wine tests, sourced; the scripts of
# tests/integration/servers, as the integration fixtures start them. All end
# with kv_stop_servers (the EXIT trap); KV_KEEP=1 keeps their directories.
# A missing peer fails: nothing here skips.

kv_python=/usr/bin/python3
kv_pids=()
kv_fds=()
kv_dirs=()

kv_fail() {
  echo "FAILED: $*"
  exit 1
}

# Counts a failed check and goes on: the script reports them all at its end.
kv_failed=0
kv_check() { # description, then the command that must succeed
  local what=$1
  shift
  "$@" || { echo "FAILED: $what"; kv_failed=$((kv_failed + 1)); }
}

kv_windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# Wine's loader of one bitness, for its builtin programs (cscript, regsvr32,
# reg): Debian's wine script starts the 32-bit one whenever wine32 is installed.
kv_native_wine() { # x64|x86; sets KV_WINE
  case $1 in
    x64) KV_WINE=/usr/lib/wine/wine64 ;;
    x86) KV_WINE=/usr/lib/wine/wine ;;
    *) kv_fail "unknown bitness $1" ;;
  esac
  [ -x "$KV_WINE" ] || kv_fail "$KV_WINE is missing (wine64, and wine32 from the i386 architecture)"
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

kv_servers=$(cd "$(dirname "${BASH_SOURCE[0]}")/../integration/servers" && pwd)

# A server that prints its port on its first line and runs while its input
# stays open (kv_stop_servers closes it); sets KV_PORT.
kv_serve() { # name (files NAME.in/.port/.log), command...
  local name=$1 fd
  shift
  mkfifo "$name.in"
  "$@" <"$name.in" >"$name.port" 2>"$name.log" &
  kv_pids+=($!)
  exec {fd}>"$name.in"
  kv_fds+=("$fd")
  for _ in $(seq 100); do
    [ -s "$name.port" ] && break
    sleep 0.1
  done
  KV_PORT=$(head -n1 "$name.port")
  [ -n "$KV_PORT" ] || { cat "$name.log"; kv_fail "$(basename "$name") did not start"; }
}

# aiosmtpd storing each mail as DIR/N.eml; sets KV_SMTP_PORT.
kv_start_smtp() { # dir [user password [--tls ...]]
  "$kv_python" -c 'import aiosmtpd' 2>/dev/null || kv_fail "aiosmtpd is missing (python3-aiosmtpd)"
  local dir=$1
  shift
  mkdir -p "$dir"
  kv_serve "$dir" "$kv_python" "$kv_servers/smtp_sink.py" "$dir" "$@"
  KV_SMTP_PORT=$KV_PORT
}

# dovecot's POP3 server over a maildir under DIR; sets KV_POP3_PORT.
kv_start_pop3() { # dir user password
  [ -x /usr/sbin/dovecot ] || kv_fail "dovecot is missing (dovecot-pop3d)"
  mkdir -p "$1"
  kv_serve "$1/server" /bin/bash "$kv_servers/dovecot.sh" "$@"
  read -r KV_POP3_PORT _ _ _ KV_POP3_UID KV_POP3_GID <<<"$KV_PORT"
  KV_POP3_DIR=$1
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
