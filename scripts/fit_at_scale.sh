#!/usr/bin/env bash
# P-spline fit of 10^8 rows made on the fly, on a local dask cluster of two
# worker processes (examples/fit_at_scale.py; its options pass through, e.g.
# --rows 20000000 --output fit.png).  The PNG lands in the current directory.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh" python3-numpy python3-scipy python3-matplotlib python3-dask \
  python3-distributed
if [ -z "${BSBASIS_LIBRARY:-}" ]; then
  cmake -S "$root" -B "$root/build" >/dev/null
  cmake --build "$root/build" -j2 --target bsbasis >/dev/null
  export BSBASIS_LIBRARY="$root/build/libbsbasis.so"
fi
export PYTHONPATH="$root/python${PYTHONPATH:+:$PYTHONPATH}"
exec /usr/bin/python3 "$root/examples/fit_at_scale.py" "$@"
