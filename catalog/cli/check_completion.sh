#!/bin/bash
# Drives the bash completion of tslcat-cli as bash would on <TAB> and
# checks what it offers: commands, a command's options, and disc names
# read from the catalog named by --db.
# usage: check_completion.sh TSLCAT-CLI COMPLETION-SCRIPT SAMPLE-FOLDER
set -u
cli=$1 script=$2 sample=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$script"
"$cli" --db "$work/cat.dat" add --name "Tools 1998" "$sample" >/dev/null || exit 1
"$cli" --db "$work/cat.dat" add --name "Backup" "$sample" >/dev/null || exit 1

failures=0
# complete_line LINE EXPECTED...: the words offered for LINE, the cursor at
# its end (a trailing space starts a new, empty word).
complete_line()
{
    local line=$1
    shift
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _tslcat_cli
    local got want
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' '|')
    want=$(printf '%s\n' "$@" | sort | tr '\n' '|')
    if [[ $got != "$want" ]]; then
        echo "completion of '$line': got '$got', want '$want'" >&2
        failures=$((failures + 1))
    fi
}

# The completion runs the program named on the line to read disc names.
PATH="$(dirname "$cli"):$PATH"
complete_line "tslcat-cli se" search
complete_line "tslcat-cli --v" --version
complete_line "tslcat-cli search --f" --files --folders --format
complete_line "tslcat-cli export --" --text --binary
complete_line "tslcat-cli --db $work/cat.dat remove " "Backup" "Tools 1998"
complete_line "tslcat-cli --db $work/cat.dat remove T" "Tools 1998"
complete_line "tslcat-cli --db $work/cat.dat locate B" "Backup"
complete_line "tslcat-cli add --a" --archives
complete_line "tslcat-cli search --format " tsv csv json
complete_line "tslcat-cli search --mode s" soundex
complete_line "tslcat-cli duplicates --by " name name+size
complete_line "tslcat-cli --db $work/cat.dat update T" "Tools 1998"
[[ $failures -eq 0 ]] && echo "completion offers commands, options and disc names"
exit "$failures"
