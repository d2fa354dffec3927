#!/usr/bin/env bash
# Every long option and every command that a program's --help lists (and, for the programs with
# commands, each command's own --help, subcommands included) appears in bold in the program's
# manual page; every page has its name, synopsis, exit status, files and environment.
# Usage: manual-pages-cover-help.sh DOC_FOLDER PROGRAM...
# The page of a program is DOC_FOLDER/<program name>.<section>.scd.
set -uo pipefail

doc=$1
shift
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The long options of a help text, one a line.
long_options() { grep -oE '^ +(-[a-zA-Z],)?--[a-z][a-z-]*' | sed 's/.*,//; s/^ *//'; }
# The commands a help text lists under "Subcommands:", one a line.
commands_of() { sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p'; }

# A name in bold in the page: "*--name*", or a word of a bold span such as "*queue retry* ID".
in_bold() {
  grep -qE "\*([^*]* )?$(printf '%s' "$2" | sed 's/[.-]/\\&/g')( [^*]*)?\*" "$1"
}

# Checks the help of PROGRAM COMMAND... against PAGE, then the help of each command it lists.
# The desktop programs answer --help without a display.
check_help() {
  local page=$1 program=$2
  shift 2
  local help usage="Usage: $(basename "$program")${*:+ $*}"
  if ! help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$@" --help 2>&1); then
    fail "$usage: --help exits with an error"
    return
  fi
  grep -q "^$usage " <<<"$help" || fail "the usage line does not name the program: $usage"
  local name
  for name in $(long_options <<<"$help"); do
    in_bold "$page" "$name" || fail "$(basename "$page"): option $name of '$usage' is missing"
  done
  for name in $(commands_of <<<"$help"); do
    in_bold "$page" "$name" || fail "$(basename "$page"): command $name of '$usage' is missing"
    check_help "$page" "$program" "$@" "$name"
  done
}

for program in "$@"; do
  name=$(basename "$program")
  page=$(ls "$doc/$name".[0-9].scd 2>/dev/null | head -n 1)
  if [ -z "$page" ]; then
    fail "no manual page for $name in $doc"
    continue
  fi
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES ENVIRONMENT; do
    grep -qx "# $section" "$page" || fail "$(basename "$page") has no section $section"
  done
  check_help "$page" "$program"
done

[ "$failures" -eq 0 ] && echo "every option and command is in its manual page"
exit $((failures > 0))
