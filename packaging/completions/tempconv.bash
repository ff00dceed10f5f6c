# SPDX-License-Identifier: MIT
# bash completion for tempconv: its options, and the scale names after -f and -t.
# The scales' letters and names, as the program's --help lists them.
_tempconv_scales() {
  "$1" --help 2>/dev/null | awk '/^Scales:/ { on = 1; next } on && /^$/ { exit } on && /^  / { letters = letters " " $1; for (i = 2; i < NF; i++) { name = $i; sub(/,$/, "", name); names = names " " name } } END { print substr(letters names, 2) }'
}
_tempconv() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]:-}
  local options="-f --from= -t --to= --difference -d --digits= -p --places= --decimal-comma --invalid= --field= --delimiter= --header --header= -z --zero-terminated -h --help -V --version"
  # bash splits "--from=F" at the "=": the option stands two words back.
  local attached=""
  if [[ $prev == "=" ]]; then
    prev=${COMP_WORDS[COMP_CWORD-2]:-}
    attached=yes
  elif [[ $cur == "=" ]]; then
    prev=${COMP_WORDS[COMP_CWORD-1]:-}
    cur=""
    attached=yes
  fi
  # --header takes its count only after "=": a word after "--header " is an argument of its own.
  if [[ $prev == --header && -z $attached ]]; then prev=""; fi
  case $prev in
    -f | --from | -t | --to)
      COMPREPLY=($(compgen -W "$(_tempconv_scales "${COMP_WORDS[0]}")" -- "$cur"))
      return
      ;;
    --invalid)
      COMPREPLY=($(compgen -W "fail warn ignore abort" -- "$cur"))
      return
      ;;
    --delimiter)
      COMPREPLY=($(compgen -W "tab" -- "$cur"))
      return
      ;;
    -d | --digits | -p | --places | --field | --header)
      return
      ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    if [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]]; then
      compopt -o nospace 2>/dev/null
    fi
  fi
}
complete -F _tempconv tempconv
