#!/usr/bin/env bash
# Builds the documentation site into build/docs/html, offline, with Sphinx
# from Debian's packages: warnings are errors, a reference that does not
# resolve is a warning, and a gallery script that raises fails the build.
# Builds the library first when build/libbsbasis.so is missing.
#
#   BSBASIS_DOCS_OUT=dir   where the HTML goes (default build/docs/html)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh python3-sphinx python3-numpydoc python3-sphinx-gallery \
  python3-pydata-sphinx-theme python3-myst-parser python3-matplotlib \
  python3-numpy python3-scipy python3-sklearn python3-pandas python3-patsy \
  python3-statsmodels python3-dask python3-distributed
if [ ! -e build/libbsbasis.so ]; then
  cmake -S . -B build >/dev/null
  cmake --build build -j2 >/dev/null
fi
out=${BSBASIS_DOCS_OUT:-build/docs/html}
export BSBASIS_LIBRARY=$root/build/libbsbasis.so
export MPLBACKEND=Agg
# The doctree cache sits beside the output; the generated API pages and the
# gallery's output are rebuilt from their sources each time.
rm -rf docs/reference/generated docs/auto_examples
/usr/bin/python3 -m sphinx -W --keep-going -b html -d "$out/../doctrees" docs "$out"
# Every gallery script drew at least one figure.
for script in docs/gallery/plot_*.py; do
  name=$(basename "$script" .py)
  if ! ls "docs/auto_examples/images/sphx_glr_${name}_"*.png >/dev/null 2>&1; then
    echo "docs: $script drew no figure" >&2
    exit 1
  fi
done
echo "docs: open file://$root/$out/index.html"
