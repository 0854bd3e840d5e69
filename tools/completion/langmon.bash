# Bash completion for langmon and langmon-printer: commands, options, file
# names where an option takes a file, and for "langmon set" the names of the
# settings that can be sent, as "langmon settings" lists them. Installed
# once under each program's name; needs no other completion package.

_langmon_options_taking_a_value="--printer --port --printer-name --settings --reg --page \
--job-id --document"

_langmon() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local global="--printer --port --printer-name --settings --trace -q --quiet --json --version -h \
--help"
  COMPREPLY=()
  case $prev in
    --settings | --reg)
      compopt -o filenames 2> /dev/null
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    --printer)
      compopt -o nospace 2> /dev/null
      COMPREPLY=($(compgen -W "sim: socket:// parallel:/dev/lp0 usb:/dev/usb/lp0 file:" \
        -- "$cur"))
      return
      ;;
    --port)
      COMPREPLY=($(compgen -W "LPT1: LPT2: LPT3: COM1: FILE:" -- "$cur"))
      return
      ;;
    --page)
      COMPREPLY=($(compgen -W "17 18 19 21 22" -- "$cur"))
      return
      ;;
    --printer-name | --job-id | --document) return ;;
  esac
  local command="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case " $_langmon_options_taking_a_value " in
      *" ${COMP_WORDS[i]} "*) ((i++)) && continue ;;
    esac
    [[ ${COMP_WORDS[i]} == -* ]] || {
      command=${COMP_WORDS[i]}
      break
    }
  done
  local options=$global
  case $command in
    "")
      COMPREPLY=($(compgen -W "config apply set settings testpage device-id print $global" \
        -- "$cur"))
      return
      ;;
    config) options+=" --reg" ;;
    apply) options+=" --verify" ;;
    set)
      options+=" --verify"
      if [[ $cur != -* ]]; then
        compopt -o nospace 2> /dev/null
        COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" settings 2> /dev/null |
          awk 'NR > 1 && $4 != "-" { print $2 "=" }')" -- "$cur"))
        return
      fi
      ;;
    testpage) options+=" --page" ;;
    print)
      options+=" --job-id --document"
      if [[ $cur != -* ]]; then
        compopt -o filenames 2> /dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
        return
      fi
      ;;
  esac
  COMPREPLY=($(compgen -W "$options" -- "$cur"))
}

_langmon_printer() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  case $prev in
    --objects | --transcript)
      compopt -o filenames 2> /dev/null
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    --unknown)
      COMPREPLY=($(compgen -W "empty silent" -- "$cur"))
      return
      ;;
    --port | --device-id | --delay-ms | --split | --split-pause-ms | --noise-text | \
      --silent-after | --silent-object | --reset-after)
      return
      ;;
  esac
  COMPREPLY=($(compgen -W "--port --objects --device-id --delay-ms --split --split-pause-ms \
--noise --noise-text --stale --silent --silent-after --silent-object --unknown --reset-after \
--transcript -v --verbose -h --help" -- "$cur"))
}

complete -F _langmon langmon
complete -F _langmon_printer langmon-printer
