#!/bin/sh
# Checks the generated manual page.
#   man_page_test.sh lint     GROFF PAGE GENERATOR   groff formats it without a single warning
#   man_page_test.sh settings GROFF PAGE GENERATOR   it documents every setting of the catalogue
set -u
check=$1 groff=$2 page=$3 generator=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! command -v "$groff" >/dev/null 2>&1; then
  echo "FAIL: groff is needed to check the manual page (install groff or groff-base)"
  exit 1
fi
[ -s "$page" ] || { echo "FAIL: $page is missing; build the man_page target first"; exit 1; }

case $check in
lint)
  warnings=$(LC_ALL=C "$groff" -man -ww -z "$page" 2>&1)
  status=$?
  [ "$status" -eq 0 ] || fail "groff exited with $status"
  [ -z "$warnings" ] || fail "groff warns: $warnings"
  # An @NAME@ left over means the build did not fill the template.
  if grep -n '@[A-Z_]*@' "$page"; then fail "unfilled placeholders"; fi
  ;;
settings)
  # The page as a reader sees it, as plain text with leading blanks dropped. The long
  # line length keeps each paragraph on one line, so nothing wraps or hyphenates.
  text=$(LC_ALL=C "$groff" -man -Tascii -P-cbou -rLL=2000n "$page" 2>/dev/null |
         sed 's/^ *//')
  section() {  # the lines from heading $1 up to the next line that equals $2
    printf '%s\n' "$text" | awk -v from="$1" -v to="$2" \
      '$0 == from { on = 1; next } on && $0 == to { exit } on'
  }
  global=$(section "Global settings" "Teacher-specific settings")
  teacher=$(section "Teacher-specific settings" "EXIT STATUS")
  keys=$("$generator" keys) || fail "gen_reference keys failed"
  set -- $keys
  [ $# -eq 32 ] || fail "the catalogue lists $# settings, expected 32"
  for key in $keys; do
    case $key in
      [A-Z]*) part=$global other=$teacher ;;  # global keys are UpperCamelCase
      *) part=$teacher other=$global ;;
    esac
    # A short tag shares its line with the start of the paragraph.
    printf '%s\n' "$part" | grep -Eq "^$key( |\$)" || fail "$key has no entry in its group"
    if printf '%s\n' "$other" | grep -Eq "^$key( |\$)"; then
      fail "$key listed in the wrong group"
    fi
  done
  mirrored=$(printf '%s\n' "$global" | grep -c 'Also written to the student settings file')
  [ "$mirrored" -eq 10 ] || fail "$mirrored settings said to be mirrored to students, expected 10"
  if printf '%s\n' "$teacher" | grep -q 'student settings file'; then
    fail "a teacher-specific setting is said to be mirrored to students"
  fi
  # 2147483647 is refused for every integer setting, so it must not be offered.
  printf '%s\n' "$global" | grep -q 'Integer from 0 to 2147483646\.' ||
    fail "Authorization's largest value is not 2147483646"
  if printf '%s\n' "$text" | grep -q 2147483647; then fail "2147483647 offered"; fi
  printf '%s\n' "$teacher" | grep -q 'list of up to 64, each from 1 to 16000' ||
    fail "channels limits missing"
  printf '%s\n' "$teacher" | grep -q 'or a list of up to 3;' || fail "subnets limit missing"
  for heading in NAME SYNOPSIS DESCRIPTION SETTINGS "EXIT STATUS" FILES EXAMPLES NOTES; do
    printf '%s\n' "$text" | grep -qx "$heading" || fail "no $heading section"
  done
  ;;
*)
  echo "usage: man_page_test.sh lint|settings GROFF PAGE GENERATOR"
  exit 2
  ;;
esac
[ "$failures" -eq 0 ] && echo "PASS: $check" && exit 0
exit 1
