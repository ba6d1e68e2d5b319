#!/usr/bin/env bash
# Makes the packages from a Release build, inspects the Debian package, installs it on this
# machine, checks that the program, its manual page and its shell completion work, and
# removes it again. Needs root on a Debian system that may be changed (CI's machine), and
# refuses to run where brtconfig is already installed as a package.
#
#   packaging/package_test.sh BUILD_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
version=$(sed -n 's/^project(brtconfig VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if dpkg-query -W -f '${Status}' brtconfig 2>/dev/null | grep -q installed; then
  echo "brtconfig is installed as a package here already; not touching it" >&2
  exit 2
fi

cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRT_TESTS=OFF \
  -DBRT_ZSH_COMPLETION_DIR=share/zsh/vendor-completions >/dev/null
cmake --build "$build"
rm -rf "$build/packages"
cpack --config "$build/CPackConfig.cmake" -B "$build/packages" >/dev/null
deb=$(echo "$build"/packages/brtconfig_"$version"_*.deb)
tgz=$(echo "$build"/packages/brtconfig-"$version"-*.tar.gz)
[ -f "$deb" ] || { echo "FAIL: no Debian package: $(ls "$build/packages")"; exit 1; }
[ -f "$tgz" ] || fail "no .tar.gz: $(ls "$build/packages")"

echo "== dpkg-deb -I $(basename "$deb")"
info=$(dpkg-deb -I "$deb")
echo "$info"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = brtconfig ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
case $(field Maintainer) in *?" <"*@*">") ;; *) fail "Maintainer is '$(field Maintainer)'" ;; esac
case $(field Depends) in *libc6*libutf8proc*|*libutf8proc*libc6*) ;;
  *) fail "Depends is '$(field Depends)', not libc6 and libutf8proc" ;; esac
case $(field Depends) in *libstdc++*) fail "Depends names libstdc++, which is linked in" ;; esac
[ "$(field Description | wc -l)" -gt 2 ] || fail "Description has no long text"

contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/brtconfig ./usr/share/man/man1/brtconfig.1 \
            ./usr/share/bash-completion/completions/brtconfig \
            ./usr/share/zsh/vendor-completions/_brtconfig ./usr/share/doc/brtconfig/copyright \
            ./usr/share/brtconfig/manifests/com.brellan.teacher-global.json \
            ./usr/share/brtconfig/manifests/com.brellan.teacher-global.plist \
            ./usr/share/brtconfig/manifests/com.brellan.teacher-teacher.json \
            ./usr/share/brtconfig/manifests/com.brellan.teacher-teacher.plist \
            ./usr/share/brtconfig/manifests/com.brellan.student.settings.json \
            ./usr/share/brtconfig/manifests/com.brellan.student.settings.plist; do
  grep -q " $file\$" <<<"$contents" || fail "the package lacks $file"
done
# The listing is taken whole: grep -q leaves a pipe early, which pipefail counts against tar.
listing=$(tar -tzf "$tgz")
grep -q '/bin/brtconfig$' <<<"$listing" || fail "the .tar.gz lacks bin/brtconfig"
grep -q '/share/brtconfig/manifests/com.brellan.teacher-global.json$' <<<"$listing" ||
  fail "the .tar.gz lacks the manifests"
copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/brtconfig/copyright)
grep -qx 'License: Apache-2.0' <<<"$copyright" || fail "the copyright file does not name Apache-2.0"
grep -q 'Apache License, Version 2.0' <<<"$copyright" || fail "the copyright file lacks the licence text"

echo "== install, use, remove"
dpkg -i "$deb" >/dev/null
installed=$(dpkg -L brtconfig)
trap 'dpkg -r brtconfig >/dev/null 2>&1 || true' EXIT

[ "$(command -v brtconfig)" = /usr/bin/brtconfig ] || fail "brtconfig is '$(command -v brtconfig)'"
[ "$(brtconfig version)" = "$version" ] || fail "brtconfig version prints '$(brtconfig version)'"
page=$(MANPAGER=cat MANWIDTH=80 man brtconfig 2>&1) || fail "man brtconfig: $page"
grep -q "StealthMode" <<<"$page" || fail "man brtconfig does not show the settings"
completed=$(bash -c '. /usr/share/bash-completion/bash_completion
  __load_completion brtconfig || exit 1
  COMP_WORDS=(brtconfig StealthM); COMP_CWORD=1; COMP_LINE="brtconfig StealthM"
  COMP_POINT=${#COMP_LINE}; _brtconfig brtconfig StealthM brtconfig
  echo "${COMPREPLY[*]}"' 2>&1)
[ "$completed" = StealthMode ] || fail "bash completes 'brtconfig StealthM' to '$completed'"
if command -v zsh >/dev/null; then
  dump=$(mktemp)
  bound=$(zsh -fc 'autoload -Uz compinit; compinit -u -d "$1"; print -r -- "$_comps[brtconfig]"' \
    zsh "$dump" 2>&1)
  rm -f "$dump"
  [ "$bound" = _brtconfig ] || fail "zsh binds brtconfig to '$bound', not _brtconfig"
fi

dpkg -r brtconfig >/dev/null
trap - EXIT
dpkg-query -W -f '${Status}' brtconfig 2>/dev/null | grep -q ' installed' &&
  fail "brtconfig is still installed after dpkg -r"
while IFS= read -r path; do
  [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left after removal"
done <<<"$installed"

[ "$failures" -eq 0 ] && echo "PASS: package" && exit 0
exit 1
