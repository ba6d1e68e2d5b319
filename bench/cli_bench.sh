#!/bin/bash
# Whole-process benchmark of brtconfig on generated preference files (2.8 KB, 1 MB, 10 MB
# and 200,000 keys, each as XML and as binary): as root (XML written) and as the ordinary
# user 65534 (binary written), against cp of the same file and Python's plistlib doing
# the same job, with the tool's peak memory; then ten settings applied in one run
# (--apply) against one change and against ten runs. Prints one line per case and the
# targets.
#
# Usage, as root:  bench/cli_bench.sh [BUILD_DIR] [--apply-only] [--tmpfs]
# --tmpfs mounts a fresh tmpfs over the system folder and the work folder for the run (and
# unmounts them after), so that the files live in memory; without it they are on the disk
# that holds BUILD_DIR and /tmp. Each run of the tool or cp is a fresh process on a fresh
# copy of the file, as a user's run is.
# BUILD_DIR (default ./build) must hold tool/brtconfig_testsys, the build of the tool
# whose system-wide folder lies inside the build tree, and bench/save_floor (configure
# with -DBRT_TESTS=ON -DBRT_BENCH=ON), so the real system folder is never touched. Do not
# run it while that tree's tests run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
apply_only= tmpfs=
for option; do
  case $option in
    --apply-only) apply_only=$option ;;
    --tmpfs) tmpfs=1 ;;
    *) echo "cli_bench.sh: unknown option $option" >&2; exit 1 ;;
  esac
done
binary=$build/tool/brtconfig_testsys
system=$(sed -n 's/^BRT_TEST_SYSTEM_PREFS_DIR:INTERNAL=//p' "$build/CMakeCache.txt")

if [ "$(id -u)" != 0 ]; then
  echo "cli_bench.sh: run as root (it also runs the tool as uid 65534)" >&2
  exit 1
fi
case $system in
  "$build"/*) ;;
  *) echo "cli_bench.sh: no system folder inside $build; build brtconfig_testsys" >&2; exit 1 ;;
esac
[ -x "$binary" ] || { echo "cli_bench.sh: $binary is missing" >&2; exit 1; }
floor=$build/bench/save_floor
[ -x "$floor" ] || { echo "cli_bench.sh: $floor is missing (configure with -DBRT_BENCH=ON)" >&2; exit 1; }

work=$(mktemp -d /tmp/brtconfig-bench.XXXXXX)
mkdir -p "$system"
mounts=()
cleanup() {
  for mount in "${mounts[@]}"; do umount "$mount"; done
  rm -rf "$work"
  rm -f "$system/com.brellan.teacher.plist"
}
trap cleanup EXIT
if [ -n "$tmpfs" ]; then
  for folder in "$work" "$system"; do
    mount -t tmpfs -o size=1g,mode=755 tmpfs "$folder"
    mounts+=("$folder")
  done
fi
chmod 755 "$work"
echo "file system: $(stat -f -c %T "$system")"

/usr/bin/python3 "$here/gen_prefs.py" "$work/files"
chmod -R a+rX "$work/files"
echo "brtconfig: $binary"
echo "files: $(cd "$work/files" && ls -l | awk 'NR > 1 {printf "%s %s B, ", $9, $5}')"
/usr/bin/python3 "$here/time_cli.py" --binary "$binary" --floor "$floor" --system-folder "$system" \
  --files "$work/files" --work "$work" $apply_only
