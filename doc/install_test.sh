#!/bin/sh
# Installs the build into a temporary prefix and checks that every file lands where its
# user looks for it: the shell, man, bash-completion and zsh.
#   install_test.sh BUILD_DIR BASH_COMPLETION_SCRIPT ZSH   (either of the last two may be
#   empty or ...-NOTFOUND; its check is then skipped)
set -u
build=$1 bash_completion=${2:-} zsh=${3:-}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/brtconfig-install.XXXXXX") || exit 1
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix/usr" >"$prefix/install.log" 2>&1 ||
  { cat "$prefix/install.log"; echo "FAIL: cmake --install"; exit 1; }
root=$prefix/usr

for file in bin/brtconfig share/man/man1/brtconfig.1 \
            share/bash-completion/completions/brtconfig share/zsh/site-functions/_brtconfig \
            share/brtconfig/manifests/com.brellan.teacher-global.json \
            share/brtconfig/manifests/com.brellan.teacher-teacher.plist \
            share/brtconfig/manifests/com.brellan.student.settings.json; do
  [ -s "$root/$file" ] || fail "$file not installed"
done
[ -x "$root/bin/brtconfig" ] || fail "bin/brtconfig is not executable"
manifests=$(ls "$root/share/brtconfig/manifests" 2>/dev/null | wc -l)
[ "$manifests" -eq 6 ] || fail "share/brtconfig/manifests holds $manifests files, not 6"
header=$("$root/bin/brtconfig" </dev/null 2>&1 | head -n 1)
[ "$header" = "Teacher Configuration Utility" ] ||
  fail "the installed brtconfig prints '$header' instead of its usage text"

# bash-completion loads a command's completion on first use from
# <dir>/bash-completion/completions for each dir of XDG_DATA_DIRS.
case $bash_completion in
  "" | *-NOTFOUND) echo "skipped: bash-completion not found, its loader is not checked" ;;
  *)
    loaded=$(XDG_DATA_DIRS="$root/share" BASH_COMPLETION_USER_DIR="$prefix/none" bash -c '
      . "$1" >/dev/null 2>&1
      __load_completion brtconfig && complete -p brtconfig' sh "$bash_completion" 2>&1)
    case $loaded in
      *"-F _brtconfig brtconfig"*) ;;
      *) fail "bash-completion does not load the installed completion: $loaded" ;;
    esac
    ;;
esac

# compinit binds each _name file with a #compdef line in fpath to its commands.
case $zsh in
  "" | *-NOTFOUND) echo "skipped: zsh not found, compinit is not checked" ;;
  *)
    bound=$("$zsh" -f -c 'fpath=("$1" $fpath); autoload -Uz compinit
      compinit -u -d "$2"; print -r -- "$_comps[brtconfig]"' \
      zsh "$root/share/zsh/site-functions" "$prefix/zcompdump" 2>&1)
    [ "$bound" = "_brtconfig" ] || fail "zsh binds brtconfig to '$bound', not _brtconfig"
    ;;
esac

[ "$failures" -eq 0 ] && echo "PASS: install" && exit 0
exit 1
