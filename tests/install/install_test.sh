#!/usr/bin/env bash
# `cmake --install` into a temporary prefix puts every program there with its
# version, its man page and the bash completion.
set -euo pipefail
build=$1 version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*" >&2; exit 1; }

for program in hostlore hostlore-fleet hostlore-db hostlore-web; do
  out=$("$prefix/bin/$program" --version) || fail "$program --version exits $?"
  [ "$out" = "$program $version" ] || fail "$program --version says \"$out\""
  help=$("$prefix/bin/$program" --help) || fail "$program --help exits $?"
  [[ $help == "Usage: $program "* ]] || fail "$program --help says \"$help\""

  page=$prefix/share/man/man1/$program.1
  [ -f "$page" ] || fail "no man page $page"
  grep -q "^\.TH .*\"$program $version\"" "$page" || fail "$page: no title with the version"
  grep -q -- "^$program \\\\- " "$page" || fail "$page: no NAME line"
  grep -qF -- '\-\-version' "$page" || fail "$page: the options are missing"

  completion=$prefix/share/bash-completion/completions/$program
  [ -f "$completion" ] || fail "no completion $completion"
done

# The completion, sourced as bash-completion does, answers for each program.
complete_words() {
  bash -c 'source "$1"; COMP_LINE=$3; COMP_POINT=${#COMP_LINE}; "$2"; echo "${COMPREPLY[*]}"' \
    _ "$prefix/share/bash-completion/completions/$1" "$2" "$3" 2>/dev/null
}
[ "$(complete_words hostlore _hostlore 'hostlore --')" = "--help --version" ] || fail "hostlore completion"
[ "$(complete_words hostlore-db _hostlore_db 'hostlore-db che')" = "check" ] || fail "hostlore-db completion"
[ "$(complete_words hostlore-db _hostlore_db 'hostlore-db show po')" = "postgresql://" ] ||
  fail "hostlore-db server completion"
[ "$(complete_words hostlore-web _hostlore_web 'hostlore-web sq')" = "sqlite:" ] || fail "hostlore-web completion"
[ "$(complete_words hostlore-fleet _hostlore_fleet 'hostlore-fleet --re')" = "--report --retry" ] ||
  fail "hostlore-fleet completion: $(complete_words hostlore-fleet _hostlore_fleet 'hostlore-fleet --re')"
echo "installed and checked in $prefix"
