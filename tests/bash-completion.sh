#!/usr/bin/env bash
# Drives lumo-share's bash completion as bash does: the function that `complete -p lumo-share`
# names is called with COMP_WORDS and COMP_CWORD, and its COMPREPLY is checked: commands,
# options, option values, files, the identifiers of queued shares and the slugs of recent uploads
# (asked of the tool, in a storage root of this run's own). The zsh and fish completions are
# checked for their syntax where those shells are installed.
# Usage: bash-completion.sh LUMO_SHARE COMPLETIONS_FOLDER
set -uo pipefail

tool=$(realpath "$1")
completions=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/lumo-completion-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
  XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/items"
chmod 700 "$XDG_RUNTIME_DIR"
PATH="$(dirname "$tool"):$PATH"
cd "$work/items" || exit 1
failures=0

# shellcheck source=/dev/null
source "$completions/lumo-share.bash"
function=$(complete -p lumo-share | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
[ -n "$function" ] || { echo "FAIL: complete -p names no function for lumo-share"; exit 1; }

# The replies for the last of WORDS, sorted, on one line.
replies() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  "$function" 2>"$work/errors"
  if [ -s "$work/errors" ]; then cat "$work/errors"; fi
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//'
}

# expect WANTED WORDS...
expect() {
  local wanted=$1
  shift
  local got
  got=$(replies "$@")
  if [ "$got" != "$wanted" ]; then
    echo "FAIL: $*| gave [$got], not [$wanted]"
    failures=$((failures + 1))
  fi
}

echo notes > notes.txt
expect "queue" lumo-share qu
expect "notes.txt notices" lumo-share no                     # the default command shares items
expect "--verbose --version" lumo-share --ver
expect "status" lumo-share -v stat
expect "--expires" lumo-share share --exp
expect "1d 30d 7d" lumo-share share notes.txt --expires ""
expect "center diagonal" lumo-share share --watermark-position ""
expect "notes.txt" lumo-share share --title Notes no
expect "--title" lumo-share notes.txt --tit               # options of the default command
expect "--all" lumo-share queue retry --a
expect "remove retry" lumo-share queue ""
expect "30d" lumo-share settings retention 3
expect "" lumo-share queue retry ""                     # an empty queue has no identifiers

# A name with a newline, a bracket or a star is one reply, itself.
odd=$'two\nlines [1]*.txt'
echo odd >"$odd"
replies lumo-share share tw >/dev/null
[ "${#COMPREPLY[@]}" -eq 1 ] && [ "${COMPREPLY[0]}" = "$odd" ] ||
  { echo "FAIL: the odd name came back as [${COMPREPLY[*]}]"; failures=$((failures + 1)); }
expect "" lumo-share share "two"$'\n'"lines [2"
rm "$odd"
# A word as typed, quoted or escaped, by hand or by the completion itself.
mkdir "sub dir" && echo inner >"sub dir/in [1].txt"
expect "sub dir" lumo-share share 'sub\ d'
expect "sub dir" lumo-share share '"sub d'
expect "sub dir/in [1].txt" lumo-share share 'sub\ dir/in\ \['
expect "sub dir/in [1].txt" lumo-share share "'sub dir/"
rm -r "sub dir"

staged=$("$tool" stage --json notes.txt | sed -n 's/^{"clientShareId":"\([^"]*\)".*/\1/p')
[ -n "$staged" ] || { echo "FAIL: lumo-share stage staged nothing"; exit 1; }
expect "$staged" lumo-share queue retry ""
expect "$staged" lumo-share queue remove "${staged:0:4}"
expect "" lumo-share queue remove "$staged" ""          # one identifier only
expect "" "$work/no-such-tool" queue retry ""           # a tool that cannot answer gives nothing

# The recent uploads' slugs for `delete`, as many as are typed, from this machine's records.
printf '%s\n' '[{"slug":"Ab3dEf7h","shortUrl":"http://127.0.0.1:9/Ab3dEf7h","kind":"link"},' \
  '{"slug":"my-report","shortUrl":"http://127.0.0.1:9/my-report","kind":"doc"}]' \
  >"$XDG_DATA_HOME/group.com.lumo.share/recent-uploads.json"
expect "Ab3dEf7h my-report" lumo-share delete ""
expect "my-report" lumo-share delete Ab3dEf7h m
expect "--check --help --json" lumo-share recent --
expect "delete" lumo-share del

for shell in zsh fish; do
  file=$completions/$([ $shell = zsh ] && echo _lumo-share || echo lumo-share.fish)
  if command -v $shell >/dev/null && ! $shell -n "$file"; then
    echo "FAIL: $shell -n $file"
    failures=$((failures + 1))
  fi
done

[ "$failures" -eq 0 ] && echo "bash completion answers commands, options, files, queued shares and recent uploads"
exit $((failures > 0))
