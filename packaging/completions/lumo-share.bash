# bash completion for lumo-share: commands, their options and values, files for the items, the
# queued shares' identifiers for `queue retry` and `queue remove` and the recent uploads' slugs
# for `delete`.

# The identifiers of the queued shares, asked of the tool itself; nothing when the queue is empty
# or the tool cannot answer.
_lumo_share_queue_ids() {
  local tool=${1/#\~/$HOME}
  "$tool" queue --json 2>/dev/null | grep -o '"clientShareId":"[^"]*"' | cut -d'"' -f4 | sort -u
}

# The slugs of the recent uploads, from the tool's records (nothing is asked of the service).
_lumo_share_recent_slugs() {
  local tool=${1/#\~/$HOME}
  "$tool" recent --json 2>/dev/null | grep -o '"slug":"[^"]*"' | cut -d'"' -f4 | sort -u
}

_lumo_share_reply() {
  mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

# The word as the shell will read it: an opening quote and backslash escapes taken off, so that
# `sub\ dir/` and `"sub d` name "sub dir". Never evaluated: a word is text, not a command.
_lumo_share_dequote() {
  local word=$1 plain="" index
  case $word in
    \'*) word=${word#\'}; printf '%s' "${word%\'}"; return ;;
    \"*) word=${word#\"}; word=${word%\"} ;;
  esac
  for ((index = 0; index < ${#word}; index++)); do
    if [[ ${word:index:1} == \\ ]]; then
      ((index++))
    fi
    plain+=${word:index:1}
  done
  printf '%s' "$plain"
}

# The files and folders whose names start with the word $1, added to COMPREPLY. A glob, not
# compgen -f: compgen answers one name a line, which splits a name that holds a newline. The
# quoted prefix matches literally, so brackets and stars in a name are no patterns.
_lumo_share_add_files() {
  local restore prefix file
  prefix=$(_lumo_share_dequote "$1")
  restore=$(shopt -p nullglob)
  shopt -s nullglob
  local home=false
  [[ $prefix == "~/"* ]] && home=true prefix=$HOME/${prefix#"~/"}
  for file in "$prefix"*; do
    # As typed: a name under the home folder keeps its "~/".
    $home && file="~/${file#"$HOME"/}"
    COMPREPLY+=("$file")
  done
  eval "$restore"
}

_lumo_share_files() {
  compopt -o filenames 2>/dev/null
  COMPREPLY=()
  _lumo_share_add_files "$1"
}

_lumo_share() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="share stage queue status login logout drain recent delete settings config plan bind devices notices health background"
  COMPREPLY=()

  # The command and its own subcommand, skipping the tool's options.
  local command="" sub="" index word
  for ((index = 1; index < COMP_CWORD; index++)); do
    word=${COMP_WORDS[index]}
    [[ $word == -* ]] && continue
    if [[ -z $command ]]; then
      command=$word
    elif [[ -z $sub ]]; then
      sub=$word
    fi
  done
  # Anything else first is an item of the default command.
  if [[ -n $command && " $commands " != *" $command "* ]]; then
    command=share sub=""
  fi

  case $prev in
    --expires) _lumo_share_reply "1d 7d 30d" "$cur"; return ;;
    --watermark-position) _lumo_share_reply "center diagonal" "$cur"; return ;;
    --password-file | --token-file) _lumo_share_files "$cur"; return ;;
    --text | --title | --note | --slug | --max-downloads | --watermark | --watermark-opacity | \
      --limit | --since | --ack | --page-base) return ;;
  esac

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      _lumo_share_reply "--help --version --verbose" "$cur"
    else
      _lumo_share_reply "$commands" "$cur"
      # With no command, the items themselves are shared.
      _lumo_share_add_files "$cur"
      compopt -o filenames 2>/dev/null
    fi
    return
  fi

  local options="--help"
  case $command in
    share)
      options+=" --text --title --note --expires --password --password-file --slug
        --max-downloads --no-download --burn --watermark --watermark-position
        --watermark-opacity --json" ;;
    stage) options+=" --text --json" ;;
    queue)
      case $sub in
        retry) options+=" --all" ;;
        remove) ;;
        *) options+=" --json" ;;
      esac ;;
    login) options+=" --token-file" ;;
    drain) options+=" --limit --all --json" ;;
    recent) options+=" --check --json" ;;
    delete | plan | bind | devices) options+=" --json" ;;
    notices) options+=" --since --limit --ack --json" ;;
    config) [[ $sub == server ]] && options+=" --page-base" ;;
  esac
  if [[ $cur == -* ]]; then
    _lumo_share_reply "$options" "$cur"
    return
  fi

  case $command in
    share | stage) _lumo_share_files "$cur" ;;
    queue)
      case $sub in
        "") _lumo_share_reply "retry remove" "$cur" ;;
        retry | remove)
          # One identifier, after the subcommand.
          [[ ${COMP_WORDS[COMP_CWORD - 1]} == "$sub" ]] &&
            _lumo_share_reply "$(_lumo_share_queue_ids "${COMP_WORDS[0]}")" "$cur" ;;
      esac ;;
    login) _lumo_share_reply "-" "$cur" ;;
    delete) _lumo_share_reply "$(_lumo_share_recent_slugs "${COMP_WORDS[0]}")" "$cur" ;;
    settings)
      case $sub in
        "") _lumo_share_reply "retention password auto-upload" "$cur" ;;
        retention) [[ $prev == retention ]] && _lumo_share_reply "1d 7d 30d" "$cur" ;;
        auto-upload) [[ $prev == auto-upload ]] && _lumo_share_reply "on off" "$cur" ;;
      esac ;;
    config) [[ -z $sub ]] && _lumo_share_reply "server" "$cur" ;;
    devices) [[ -z $sub ]] && _lumo_share_reply "list pair claim remove" "$cur" ;;
    background) [[ -z $sub ]] && _lumo_share_reply "enable disable status" "$cur" ;;
  esac
}

complete -F _lumo_share lumo-share
