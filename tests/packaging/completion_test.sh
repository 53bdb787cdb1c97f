#!/usr/bin/env bash
# The bash completion that korvane writes: it loads, and it offers the
# commands, a command's options, the choices of an option and subcommands.
set -euo pipefail
script=$1
bash -n "$script"
# shellcheck disable=SC1090
source "$script"

complete_words() { # the words offered after the given command line
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _korvane
    echo "${COMPREPLY[*]}"
}
expect() { # expect WORD in OFFERED
    case " $2 " in
    *" $1 "*) ;;
    *) echo "expected '$1' among: $2" >&2; exit 1 ;;
    esac
}
expect search "$(complete_words korvane se)"
expect settings "$(complete_words korvane se)"
expect set-ip "$(complete_words korvane settings s)"
expect --https "$(complete_words korvane settings set 1 --h)"
expect --pacing "$(complete_words korvane firmware upgrade --pa)"
expect per-device "$(complete_words korvane firmware upgrade --pacing '')"
expect --simulate "$(complete_words korvane search --s)"
offered=$(complete_words korvane info --)
case " $offered " in *" --pacing "*) echo "info offers --pacing: $offered" >&2; exit 1 ;; esac
echo "completion ok"
