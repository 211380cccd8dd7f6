#!/bin/sh
# Copies real-world messages that nobody here wrote out of installed Debian
# packages into the build tree (never into the source tree):
#   libpython3.11-testsuite            Python's email test messages
#   golang-github-jhillyerd-enmime-dev enmime's test messages (also damaged ones)
# Usage: gather_corpus.sh DESTINATION_DIR
set -eu
dest=$1
rm -rf "$dest"
mkdir -p "$dest"
n=0
copy() { # source file, corpus name
  cp "$1" "$dest/$2"
  n=$((n + 1))
}
for f in /usr/lib/python3*/test/test_email/data/msg_*.txt; do
  [ -f "$f" ] || continue
  copy "$f" "python-$(basename "$f")"
done
enmime=/usr/share/gocode/src/github.com/jhillyerd/enmime/testdata
for sub in mail low-quality parts; do
  for f in "$enmime/$sub"/*.raw; do
    [ -f "$f" ] || continue
    copy "$f" "enmime-$sub-$(basename "$f")"
  done
done
echo "gathered $n messages into $dest"
if [ "$n" -lt 100 ]; then
  echo "fewer than 100 messages: install libpython3.11-testsuite and golang-github-jhillyerd-enmime-dev" >&2
  exit 1
fi
