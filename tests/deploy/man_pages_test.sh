#!/bin/sh
# The three man pages lint clean with mandoc. The only message allowed is the
# style note about a referenced page this host lacks (vorn-receipt(1) before
# it is installed, daemon(8) outside FreeBSD).
#   man_pages_test.sh MANDIR
set -eu
mandir=$1
if ! command -v mandoc >/dev/null 2>&1; then
    echo "SKIP: mandoc is not installed"
    exit 77
fi
status=0
for page in "$mandir/vorn-spoa.8" "$mandir/vorn-gate.8" "$mandir/vorn-receipt.1"; do
    out=$(mandoc -Tlint "$page" 2>&1 | grep -v -e 'STYLE: referenced manual not found' -e 'outdated mandoc.db' -e 'mandoc.db' || true)
    if [ -n "$out" ]; then
        echo "$out"
        status=1
    fi
    mandoc -Tutf8 "$page" >/dev/null || status=1
done
[ "$status" -eq 0 ] && echo "man pages: mandoc -Tlint clean"
exit "$status"
