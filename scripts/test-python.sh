#!/usr/bin/env bash
# The Python leg: builds the libraries and the tool (preset "default") when
# they are missing, installs the tova package into a virtual environment in
# build/python-venv (made by Debian's /usr/bin/python3 with the system's
# numpy, dask, distributed, xarray and pytest), and runs python/tests with
# TOVA_LIBRARY pointing at the build's library folder. Prints pytest's summary
# line; exits nonzero when anything fails.
#
# Needs: python3-numpy python3-dask python3-distributed python3-xarray
# python3-pytest python3-venv (apt-get install them when missing).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/default"
venv="$root/build/python-venv"
python=/usr/bin/python3
log="$root/build/python-test.log"

if [[ ! -e "$build/libHOLMDAQTova.so" || ! -e "$build/libtova_ext.so" || ! -e "$build/cli/tova" ]]; then
  echo "-- building the libraries and the tool (preset default)"
  (cd "$root" && cmake --preset default >/dev/null &&
     cmake --build --preset default -j "${TOVA_JOBS:-2}" --target HOLMDAQTova tova_ext tova) >"$root/build/python-build.log" 2>&1 ||
    { tail -n 30 "$root/build/python-build.log"; echo "PYTHON LEG FAILED: build"; exit 1; }
fi

missing=$("$python" - <<'PY'
import importlib.util
need = ["numpy", "dask", "distributed", "xarray", "pytest", "ensurepip", "setuptools", "wheel"]
print(" ".join(n for n in need if importlib.util.find_spec(n) is None))
PY
)
if [[ -n "$missing" ]]; then
  echo "PYTHON LEG FAILED: $python lacks: $missing (Debian: python3-numpy python3-dask python3-distributed"
  echo "python3-xarray python3-pytest python3-venv python3-setuptools python3-wheel)"
  exit 1
fi

if [[ ! -x "$venv/bin/python" ]]; then
  echo "-- making the virtual environment $venv"
  "$python" -m venv --system-site-packages "$venv" || { echo "PYTHON LEG FAILED: venv"; exit 1; }
fi
echo "-- installing the package into $venv"
"$venv/bin/python" -m pip install -q --no-index --no-build-isolation --force-reinstall --no-deps "$root/python" \
  >"$root/build/python-install.log" 2>&1 ||
  { tail -n 30 "$root/build/python-install.log"; echo "PYTHON LEG FAILED: pip install"; exit 1; }

echo "-- pytest python/tests (TOVA_LIBRARY=$build)"
# From the tests' folder, so that the installed package is the one imported.
(cd "$root/python/tests" && TOVA_LIBRARY="$build" TOVA_CLI="$build/cli/tova" \
   timeout 1200 "$venv/bin/python" -m pytest -q -p no:cacheprovider . ) >"$log" 2>&1
status=$?
[[ $status -eq 0 ]] || grep -E -B2 -A25 '^_{5,} ' "$log" | head -n 120
tail -n 1 "$log"
[[ $status -eq 0 ]] && echo "PYTHON LEG PASSED" || echo "PYTHON LEG FAILED (log: $log)"
exit $status
