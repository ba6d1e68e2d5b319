#!/usr/bin/env bash
# Builds the property-list benchmark in Release, runs it and Python's plistlib on the same
# generated documents, and prints a table with the speed-up and the memory used to read.
#
#   bench/run_plist_bench.sh BUILD_DIR [plist_bench flags, e.g. --benchmark_filter=xml]
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [benchmark flags]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
shift
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRT_BENCH=ON -DBRT_TESTS=ON \
  -DBRT_SANITIZE=OFF -DBRT_FUZZ=OFF >/dev/null
cmake --build "$build" --target plist_bench plist_tool -- -j2

docs=$build/bench-docs
mkdir -p "$docs"
"$build/bench/plist_bench" --dump_dir="$docs"
"$build/bench/plist_bench" --benchmark_out="$docs/plist_bench.json" \
  --benchmark_out_format=json "$@"
echo
"$python" "$root/bench/plistlib_bench.py" "$docs" --compare "$docs/plist_bench.json" \
  --tool "$build/plist/plist_tool"
