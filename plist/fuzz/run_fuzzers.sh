#!/usr/bin/env bash
# Fuzzes the property-list readers and writers, and the reader of files to apply (JSON or
# property lists, settings/fuzz), for a bounded time.
#
#   plist/fuzz/run_fuzzers.sh BUILD_DIR SECONDS
#
# BUILD_DIR is configured with -DCMAKE_CXX_COMPILER=clang++ -DBRT_FUZZ=ON -DBRT_SANITIZE=ON.
# The seed corpus is assembled under BUILD_DIR/fuzz/seeds from the sample files
# (BRT_PLIST_SAMPLES, default: plist/testdata) and two small built-in documents, plus
# settings/fuzz/seeds for the reader of files to apply; each target then runs for
# SECONDS, one after the other, growing its own corpus in
# BUILD_DIR/fuzz/corpus/TARGET for the next run. Exits 1 when any target reports a
# crash, sanitizer error, leak, timeout or memory blow-up; reproducers are written to
# BUILD_DIR/fuzz/artifacts/ and logs to BUILD_DIR/fuzz/logs/.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
samples=${BRT_PLIST_SAMPLES:-$here/../testdata}
targets="xml_read_fuzzer binary_read_fuzzer round_trip_fuzzer apply_input_fuzzer"

# shellcheck disable=SC2086
cmake --build "$build" --target $targets

work=$build/fuzz
rm -rf "$work/seeds"
mkdir -p "$work/seeds/xml" "$work/seeds/binary" "$work/artifacts" "$work/logs"

# Samples go to the reader they exercise; the round trip takes both.
n=0
if [ -d "$samples" ]; then
  while IFS= read -r -d '' file; do
    n=$((n + 1))
    if [ "$(head -c 7 "$file")" = "bplist0" ]; then kind=binary; else kind=xml; fi
    cp "$file" "$work/seeds/$kind/sample-$n-$(basename "$file")"
  done < <(find "$samples" -mindepth 2 -type f ! -name 'README*' ! -name 'LICENSE*' -print0)
else
  echo "note: no sample files at $samples; using the built-in seeds only" >&2
fi

# {"a": 1, "list": [true, "é"]} with one-byte offsets and references.
{
  printf 'bplist00\xd2\x01\x02\x03\x04\x51\x61\x54list\x10\x01\xa2\x05\x06\x09\x61\x00\xe9'
  printf '\x08\x0d\x0f\x14\x16\x19\x1a\x00\x00\x00\x00\x00\x00\x01\x01'
  printf '\x00\x00\x00\x00\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x1d'
} >"$work/seeds/binary/builtin-small.bplist"
# Every XML element kind once.
cat >"$work/seeds/xml/builtin-kinds.plist" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>array</key>
	<array>
		<true/>
		<false/>
		<array/>
		<dict/>
	</array>
	<key>data</key>
	<data>
	AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKiss
	LS4vMDE=
	</data>
	<key>date</key>
	<date>2001-01-01T00:00:00Z</date>
	<key>integer</key>
	<integer>-9223372036854775808</integer>
	<key>real</key>
	<real>0.10000000000000001</real>
	<key>string</key>
	<string>a&lt;b&gt;&amp;"c" &#x10FFFF; <![CDATA[<x>]]><!-- note --></string>
	<key>uid</key>
	<dict>
		<key>CF$UID</key>
		<integer>7</integer>
	</dict>
</dict>
</plist>
XML

status=0
for target in $targets; do
  program=$build/plist/fuzz/$target
  dict=("-dict=$here/plist.dict")
  case $target in
    xml_read_fuzzer) seeds=("$work/seeds/xml") ;;
    binary_read_fuzzer) seeds=("$work/seeds/binary") dict=() ;;
    apply_input_fuzzer)
      program=$build/settings/fuzz/$target
      seeds=("$here/../../settings/fuzz/seeds" "$work/seeds/xml" "$work/seeds/binary")
      dict=("-dict=$here/../../settings/fuzz/apply_input.dict")
      ;;
    *) seeds=("$work/seeds/xml" "$work/seeds/binary") ;;
  esac
  corpus=$work/corpus/$target
  mkdir -p "$corpus"
  log=$work/logs/$target.log
  echo "== $target for ${seconds}s"
  if "$program" "$corpus" "${seeds[@]}" "${dict[@]}" \
      -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" >"$log" 2>&1; then
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "$log" || true
  else
    status=1
    echo "FINDING in $target (log: $log):" >&2
    grep -E 'ERROR|SUMMARY|broken invariant|Test unit written|==[0-9]+==' "$log" | head -20 >&2 || true
  fi
done
exit $status
