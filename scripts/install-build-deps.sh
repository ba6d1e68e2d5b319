#!/bin/sh
# Installs what building, testing and packaging brtconfig need on Debian 12 (or a system
# like it): the compiler and build tools, GoogleTest, utf8proc, nlohmann-json, what the
# tests drive (python3 with jsonschema, groff, bash-completion, zsh, setpriv) and `file` for cpack. Run as root, it
# calls apt-get itself; run as anyone else, through sudo. Package names given as arguments
# are installed too.
set -eu

if [ "$(id -u)" -eq 0 ]; then
  as_root=""
elif command -v sudo >/dev/null 2>&1; then
  as_root="sudo"
else
  echo "install-build-deps.sh: run it as root, or install sudo first" >&2
  exit 1
fi

$as_root apt-get update
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config \
  libgtest-dev libgmock-dev libutf8proc-dev nlohmann-json3-dev \
  python3 python3-jsonschema groff-base bash-completion zsh util-linux file "$@"
