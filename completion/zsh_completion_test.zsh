# Checks the generated zsh completion: it parses, and, with zsh's completion builtins
# replaced by stand-ins that record what they are given, it offers the setting names
# first and true/false after a true/false setting only.
#   zsh -f zsh_completion_test.zsh GENERATED_FILE
emulate -L zsh
script=$1
integer failures=0

if ! zsh -n $script; then
  print "FAIL: $script does not parse"
  exit 1
fi

typeset -a offered
_describe() { offered+=(${${(P)argv[-1]}%%:*}) }  # names only, hints dropped
compadd() { [[ $1 == -- ]] && shift; offered+=("$@") }
_users() { offered+=(USERS) }
_files() { offered+=(FILES) }
functions[_brtconfig]=$(<$script)

# complete LINE: what completing at the end of LINE offers, in `offered`.
complete() {
  words=("${(@s: :)1}")
  CURRENT=$#words offered=() PREFIX=${words[-1]}
  _brtconfig
}

# offers LINE [WORD...]: completing at the end of LINE offers exactly the WORDs, in order.
offers() {
  local line=$1
  shift
  complete "$line"
  if [[ "${(j: :)offered}" != "${(j: :)argv}" ]]; then
    print -r "FAIL: '$line' offers [${offered}], expected [${argv}]"
    (( failures++ ))
  fi
}

offers 'brtconfig EnableChannelSelect ' true false
offers 'brtconfig limitDottedDecimal ' true false
offers 'brtconfig AllowAudio '
offers 'brtconfig channels '
offers 'brtconfig version '
offers 'brtconfig enablechannelselect '
offers 'brtconfig AlertOnUpdate true '
# Options come before the key; the key and its value follow them.
offers 'brtconfig --' --help --user --json --list --plist --apply --dry-run --check --export-profile \
  --identifier --display-name --organization --description --removal-disallowed --uuid
offers 'brtconfig --apply ' FILES
offers 'brtconfig --apply x.json '
offers 'brtconfig --check '
offers 'brtconfig --export-profile --uuid '
offers 'brtconfig --export-profile --description '
offers 'brtconfig --dry-run AlertOnUpdate ' true false
offers 'brtconfig --user ' USERS
offers 'brtconfig --user bob --json AlertOnUpdate '
offers 'brtconfig --list '
offers 'brtconfig --user bob useSingleChannel ' true false
complete 'brtconfig --json '
if (( $#offered != 32 )) || (( ${offered[(Ie)version]} )); then
  print -r "FAIL: after an option the key offers ${#offered} names: ${offered}"
  (( failures++ ))
fi

# The first word: every setting in catalogue order, then version.
complete 'brtconfig '
if (( $#offered != 33 )) || [[ $offered[1] != AlertOnUpdate || $offered[-1] != version ]] ||
    (( ! ${offered[(Ie)ClassroomServerAddress]} || ! ${offered[(Ie)limitDottedDecimal]} )); then
  print -r "FAIL: the first word offers ${#offered} names: ${offered}"
  (( failures++ ))
fi

(( failures == 0 )) && print PASS && exit 0
exit 1
