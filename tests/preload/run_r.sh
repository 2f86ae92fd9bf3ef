#!/bin/sh
# The R package gives the same bits with an object that defines the
# library's exported names preloaded (see run.sh).
# Usage: run_r.sh R_LIBRARY_DIR [CC]
set -eu
rlib=$1
cc=${2:-cc}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$cc" -shared -fPIC -DBSBASIS_INTERPOSE_ALL -I"$here/../../include" "$here/interposer.c" \
  -o "$tmp/libinterpose.so"
R_LIBS="$rlib" Rscript "$here/host.R" >"$tmp/plain"
LD_PRELOAD="$tmp/libinterpose.so" R_LIBS="$rlib" Rscript "$here/host.R" >"$tmp/preloaded"
if cmp -s "$tmp/plain" "$tmp/preloaded"; then
  echo "ok:   the R package's $(wc -l <"$tmp/plain") results are the same bits with the exported names interposed"
else
  echo "FAIL: the R package's results change when the exported names are interposed:"
  diff "$tmp/plain" "$tmp/preloaded" | head -4 | cut -c1-200
  exit 1
fi
