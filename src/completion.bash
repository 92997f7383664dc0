# Bash completion for Hostlore's programs. Installed once under each
# program's name, so that bash-completion finds it for whichever is typed
# first; sourcing it registers all of them.
#
# Words are split at blanks only (COMP_LINE), so "sqlite:PATH" stays one
# word whatever COMP_WORDBREAKS holds.

# Sets _hl_words (the words before the cursor) and _hl_cur (the word at it).
_hostlore_words() {
  local line=${COMP_LINE:0:COMP_POINT}
  read -ra _hl_words <<<"$line"
  _hl_cur=
  if [[ $line != *[[:blank:]] && ${#_hl_words[@]} -gt 0 ]]; then
    _hl_cur=${_hl_words[-1]}
    unset '_hl_words[-1]'
  fi
}

# COMPREPLY from `compgen ARGS -- WORD`, given without the part before the
# last colon when readline takes the colon as a word break.
_hostlore_reply() {
  local word=$1
  shift
  local found
  found=$(compgen "$@" -- "$word")
  local IFS=$'\n'
  COMPREPLY=($found)
  if [[ $word == *:* && $COMP_WORDBREAKS == *:* ]]; then
    local prefix=${word%"${word##*:}"}
    COMPREPLY=("${COMPREPLY[@]#"$prefix"}")
  fi
}

# A file name after a fixed prefix ("sqlite:", "@").
_hostlore_file_after() {
  local prefix=$1 word=$2
  compopt -o filenames -o nospace 2>/dev/null
  local IFS=$'\n' name
  local -a names=($(compgen -f -- "${word#"$prefix"}"))
  COMPREPLY=()
  for name in "${names[@]}"; do
    [[ -d $name ]] && name+=/
    COMPREPLY+=("$prefix$name")
  done
  if [[ $word == *:* && $COMP_WORDBREAKS == *:* ]]; then
    local cut=${word%"${word##*:}"}
    COMPREPLY=("${COMPREPLY[@]#"$cut"}")
  fi
}

# The database server field.
_hostlore_server() {
  local word=$1
  if [[ $word == sqlite:* ]]; then
    _hostlore_file_after sqlite: "$word"
  else
    compopt -o nospace 2>/dev/null
    _hostlore_reply "$word" -W 'sqlite: postgresql:// odbc:'
  fi
}

_hostlore() {
  _hostlore_words
  [[ ${#_hl_words[@]} -eq 1 ]] && _hostlore_reply "$_hl_cur" -W '--help --version'
}

_hostlore_db() {
  _hostlore_words
  case ${#_hl_words[@]} in
    1) _hostlore_reply "$_hl_cur" -W 'init check show list stale changes software --help --version' ;;
    2) [[ ${_hl_words[1]} != -* ]] && _hostlore_server "$_hl_cur" ;;
    *)
      case ${_hl_words[-1]} in
        --format) _hostlore_reply "$_hl_cur" -W 'text csv json' ;;
        --index) compopt -o filenames 2>/dev/null; _hostlore_reply "$_hl_cur" -f ;;
        --days | --since | --computer | --kind) ;;
        *) [[ $_hl_cur == -* ]] && _hostlore_reply "$_hl_cur" \
          -W '--format --days --index --since --computer --kind --versions' ;;
      esac
      ;;
  esac
}

_hostlore_web() {
  _hostlore_words
  case ${_hl_words[-1]} in
    --index) compopt -o filenames 2>/dev/null; _hostlore_reply "$_hl_cur" -f ;;
    --listen | --days | --refresh) ;;
    *)
      if [[ $_hl_cur == -* ]]; then
        _hostlore_reply "$_hl_cur" -W '--listen --days --refresh --index --help --version'
      elif [[ ${#_hl_words[@]} -eq 1 ]]; then
        _hostlore_server "$_hl_cur"
      fi
      ;;
  esac
}

_hostlore_fleet() {
  _hostlore_words
  local valued='-j --jobs -t --timeout --rate --shard --report --agent --retry'
  case ${_hl_words[-1]} in
    --report | --retry | --agent)
      compopt -o filenames 2>/dev/null
      _hostlore_reply "$_hl_cur" -f
      return
      ;;
    -j | --jobs | -t | --timeout | --rate | --shard) return ;;
  esac
  if [[ $_hl_cur == -* ]]; then
    _hostlore_reply "$_hl_cur" -W "$valued -u --user-only --agent-per-target --plain --live -h --help --version"
    return
  fi
  # The first word that is neither an option nor an option's value is SERVER.
  local i positional=0
  for ((i = 1; i < ${#_hl_words[@]}; i++)); do
    if [[ " $valued " == *" ${_hl_words[i]} "* ]]; then
      ((i++))
    elif [[ ${_hl_words[i]} != -* ]]; then
      ((positional++))
    fi
  done
  if ((positional == 0)); then
    _hostlore_server "$_hl_cur"
  elif [[ $_hl_cur == @* ]]; then
    _hostlore_file_after @ "$_hl_cur"
  fi
}

complete -F _hostlore hostlore
complete -F _hostlore_db hostlore-db
complete -F _hostlore_fleet hostlore-fleet
complete -F _hostlore_web hostlore-web
