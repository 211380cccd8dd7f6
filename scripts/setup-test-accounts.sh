#!/usr/bin/env bash
# The SOCKS 5 password test authenticates against a system account, as dante
# does; this creates that throw-away account (root only, idempotent).
set -euo pipefail
[ "$(id -u)" = 0 ] || exit 0
if ! getent passwd kvsocks >/dev/null; then
  useradd --no-create-home --shell /usr/sbin/nologin kvsocks
fi
echo 'kvsocks:kvsocks-pw' | chpasswd
