#!/bin/sh
# Copies real-world messages that nobody here wrote out of installed Debian
# packages into the build tree (never into the source tree):
#   libpython3.11-testsuite              python-email:  Python's email test messages
#   golang-github-jhillyerd-enmime-dev   enmime:        enmime's test messages (also damaged ones)
#   python3-flufl.bounce                 flufl.bounce:  bounces of many mail servers
#   golang-github-gatherstars-com-jwz-dev  spamassassin-ham:  messages 0001-0299 of SpamAssassin's
#                                        public ham corpus (list mail, newsletters, mail of many programs)
# Names are source:path ("/" as ":"), stable across package versions.
# Usage: gather_corpus.sh DESTINATION_DIR
set -eu
dest=$1
rm -rf "$dest"
mkdir -p "$dest"
n=0
from() { # directory, corpus prefix, file patterns...
  dir=$1 prefix=$2
  shift 2
  for pattern in "$@"; do
    for f in "$dir"/$pattern; do
      [ -f "$f" ] || continue
      cp "$f" "$dest/$prefix:$(echo "${f#"$dir"/}" | tr / :)"
      n=$((n + 1))
    done
  done
}
python=$(ls -d /usr/lib/python3*/test/test_email/data 2>/dev/null | tail -n 1)
[ -n "$python" ] && from "$python" python-email 'msg_*.txt'
from /usr/share/gocode/src/github.com/jhillyerd/enmime/testdata enmime 'mail/*.raw' 'low-quality/*.raw' 'parts/*.raw'
from /usr/lib/python3/dist-packages/flufl/bounce/tests/data flufl.bounce '*.txt'
from /usr/share/gocode/src/github.com/gatherstars-com/jwz/test/testdata/ham spamassassin-ham '0[0-2]*.eml'
echo "gathered $n messages into $dest"
if [ "$n" -lt 300 ]; then
  echo "fewer than 300 messages: run scripts/install-deps.sh" >&2
  exit 1
fi
