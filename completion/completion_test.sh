#!/bin/bash
# Drives the generated bash completion the way bash does, through COMP_WORDS and
# COMP_CWORD, and checks what COMPREPLY offers: once on its own and once with
# bash-completion loaded, as most users have it.
#   completion_test.sh GENERATED_SCRIPT BASH_COMPLETION_SCRIPT GENERATOR
[[ $# -eq 3 ]] || { echo "usage: completion_test.sh SCRIPT BASH_COMPLETION GENERATOR"; exit 2; }
script=$1 bash_completion=$2 generator=$3
all_settings=$("$generator" keys) || { echo "FAIL: gen_reference keys"; exit 1; }
booleans=$("$generator" boolean-keys) || { echo "FAIL: gen_reference boolean-keys"; exit 1; }

# offers LINE [WORD...]: completing at the end of LINE offers exactly WORDs, in any order.
offers() {
  local line=$1
  shift
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  local command
  command=$(complete -p "${COMP_WORDS[0]}" 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  "${command:-_brtconfig}" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" \
    "${COMP_WORDS[COMP_CWORD - 1]}"
  local got want
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  if [[ $got != "$want" ]]; then
    echo "FAIL ($mode): '$line' offers [$got], expected [$want]"
    failures=$((failures + 1))
  fi
}

suite() {
  # shellcheck disable=SC2086  # the lists are blank-separated words
  offers 'brtconfig ' $all_settings version
  offers 'brtconfig Allow' AllowAudio AllowDumpUploads AllowInternetMonitoring \
    AllowKeyboardMonitoring AllowTaskmanLimiting AllowRemoteControl
  offers 'brtconfig chan' channel channels
  offers 'brtconfig ver' version
  offers 'brtconfig allowaudio'  # names are case-sensitive
  offers 'brtconfig EnableChannelSelect ' true false
  offers 'brtconfig limitDottedDecimal f' false
  offers 'brtconfig useSingleChannel t' true
  offers 'brtconfig EnableChannelSelect x'
  offers 'brtconfig EnableChannelSelect true '  # one value only
  offers 'brtconfig enablechannelselect '
  offers 'brtconfig version '
  # Options come before the key; the key and its value follow them.
  offers 'brtconfig --' --help --user --json --list --plist --apply --dry-run \
    --check --export-profile --identifier --display-name --organization --description \
    --removal-disallowed --uuid
  offers 'brtconfig --e' --export-profile
  offers 'brtconfig --apply /nonexistent/brt-' # a file name, not a setting
  offers 'brtconfig --apply x.json '
  offers 'brtconfig --check '  # --apply follows, not a setting
  offers 'brtconfig --check --a' --apply
  offers 'brtconfig --export-profile --uuid '
  offers 'brtconfig --export-profile --display-name '  # free text, not a setting
  offers 'brtconfig --export-profile --description x --r' --removal-disallowed
  offers 'brtconfig --dry-run AlertOnUpdate ' true false
  offers 'brtconfig --l' --list
  offers 'brtconfig --json Stealth' StealthMode
  offers 'brtconfig --json ver'
  offers 'brtconfig --json AlertOnUpdate '  # --json shows, it does not change
  offers 'brtconfig --list '
  offers 'brtconfig --user root limitD' limitDottedDecimal
  offers 'brtconfig --user root --json logLevel '
  offers 'brtconfig --user root useSingleChannel ' true false
  # Only the true/false settings take true or false; the others have no fixed words.
  local key want=() count=0
  for key in $all_settings; do
    want=()
    [[ " $booleans " == *" $key "* ]] && want=(true false) && count=$((count + 1))
    offers "brtconfig $key " "${want[@]}"
  done
  [[ $count -eq 12 ]] || { echo "FAIL: $count true/false settings, expected 12"; failures=$((failures + 1)); }
}

failures=0
mode=alone
(
  # shellcheck source=/dev/null
  . "$script"
  suite
  exit $((failures > 0))
) || failures=$((failures + 1))

mode=bash-completion
if [[ -r $bash_completion ]]; then
  (
    # shellcheck source=/dev/null
    . "$bash_completion"
    declare -F _init_completion >/dev/null || { echo "FAIL: $bash_completion has no _init_completion"; exit 1; }
    . "$script"
    suite
    # The tool is mostly run through sudo; bash-completion's sudo completion hands over.
    if __load_completion sudo; then
      offers 'sudo brtconfig Stealth' StealthMode
      offers 'sudo brtconfig AlertOnUpdate ' true false
    else
      echo "FAIL: bash-completion cannot load its sudo completion"
      failures=$((failures + 1))
    fi
    exit $((failures > 0))
  ) || failures=$((failures + 1))
else
  echo "skipped: bash-completion not found ($bash_completion), only the plain run was made"
fi

[[ $failures -eq 0 ]] && echo "PASS" && exit 0
exit 1
