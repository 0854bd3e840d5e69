# Bash completion for langmon and langmon-printer: commands, options, file
# names where an option or a command (print, audit) takes a file, and for
# "langmon set" the names of the settings that can be sent, as "langmon
# settings" lists them. Installed once under each program's name; needs no
# other completion package.

_langmon_options_taking_a_value="--printer --printers --jobs --port --printer-name --settings \
--reg --page --job-id --document --timeout --connect-timeout"

# What "set" offers, from the table "langmon settings" prints: before an
# "=", the names of the settings that can be sent that start with the word in
# any letter case, as set takes them (their registry value names once the
# word starts with "dw"); after it, the values the setting accepts when they
# are few (a range of at most 64 values, or a list).
_langmon_set_awk='
NR == 1 || $4 == "-" { next }
index(cur, "=") == 0 {
  name = index(tolower(cur), "dw") == 1 ? $3 : $2
  if (index(tolower(name), tolower(cur)) == 1) print name "="
  next
}
{
  split(cur, typed, "=")
  if (tolower($2) != tolower(typed[1]) && tolower($3) != tolower(typed[1])) next
  accepts = $5
  for (i = 6; i <= NF; i++) accepts = accepts " " $i
  n = split(accepts, pieces, ", ")
  for (p = 1; p <= n; p++) {
    if (split(pieces[p], range, " to ") == 1) range[2] = range[1]
    if (range[2] - range[1] >= 64) continue
    for (v = range[1]; v <= range[2]; v++)
      if (index(v "", typed[2]) == 1) print typed[1] "=" v
  }
}'

# COMPREPLY from compgen, one candidate a line, so that file names with
# blanks stay whole: _langmon_offer CURRENT-WORD COMPGEN-ARGUMENTS...
_langmon_offer() {
  local cur=$1
  shift
  mapfile -t COMPREPLY < <(compgen "$@" -- "$cur")
}

_langmon() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local global="--printer --printers --jobs --csv --port --printer-name --settings --trace -q \
--quiet -v --verbose --json --timeout --connect-timeout --version -h --help"
  COMPREPLY=()
  case $prev in
    --settings | --reg | --printers)
      compopt -o filenames 2> /dev/null
      _langmon_offer "$cur" -f
      return
      ;;
    --printer)
      compopt -o nospace 2> /dev/null
      _langmon_offer "$cur" -W "sim: socket:// parallel:/dev/lp0 usb:/dev/usb/lp0 file:"
      return
      ;;
    --port)
      _langmon_offer "$cur" -W "LPT1: LPT2: LPT3: COM1: FILE:"
      return
      ;;
    --page)
      _langmon_offer "$cur" -W "17 18 19 21 22"
      return
      ;;
    --printer-name | --job-id | --document | --timeout | --connect-timeout | --jobs) return ;;
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
      _langmon_offer "$cur" -W "config apply set settings testpage device-id print audit $global"
      return
      ;;
    config) options+=" --reg" ;;
    apply) options+=" --verify" ;;
    set)
      options+=" --verify"
      if [[ $cur != -* ]]; then
        [[ $cur == *=* ]] || compopt -o nospace 2> /dev/null
        mapfile -t COMPREPLY < <("${COMP_WORDS[0]}" settings 2> /dev/null |
          awk -v cur="$cur" "$_langmon_set_awk")
        return
      fi
      ;;
    testpage) options+=" --page" ;;
    audit | print)
      [[ $command == print ]] && options+=" --job-id --document"
      if [[ $cur != -* ]]; then
        compopt -o filenames 2> /dev/null
        _langmon_offer "$cur" -f
        return
      fi
      ;;
  esac
  _langmon_offer "$cur" -W "$options"
}

_langmon_printer() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  case $prev in
    --objects | --transcript | --list)
      compopt -o filenames 2> /dev/null
      _langmon_offer "$cur" -f
      return
      ;;
    --unknown)
      _langmon_offer "$cur" -W "empty silent"
      return
      ;;
    --listen)
      _langmon_offer "$cur" -W "127.0.0.1 ::1 0.0.0.0 ::"
      return
      ;;
    --port | --device-id | --delay-ms | --split | --split-pause-ms | --noise-text | \
      --silent-after | --silent-object | --reset-after | --fleet | --latency | --silent-share | \
      --reset-share | --seed)
      return
      ;;
  esac
  _langmon_offer "$cur" -W "--listen --port --objects --device-id --delay-ms --split --split-pause-ms \
--noise --noise-text --stale --silent --silent-after --silent-object --unknown --reset-after \
--transcript --fleet --latency --silent-share --reset-share --seed --list -v --verbose --version -h \
--help"
}

complete -F _langmon langmon
complete -F _langmon_printer langmon-printer
