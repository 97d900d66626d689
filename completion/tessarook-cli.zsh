#compdef tessarook-cli
# SPDX-License-Identifier: GPL-3.0-or-later
# zsh completion for tessarook-cli
#
# The build puts the command table here (the line below is its place).
# Scheme, Backup and path names come from the program itself, asked with the
# My Schemes folder options already typed on the line; compadd quotes what it
# inserts.

# <<TESSAROOK_CLI_TABLE>>

# Offers what stands for kind $1. Reads the caller's "globals" and the
# arguments _arguments found so far ("line").
_tessarook_cli_offer() {
    local -a names
    case $1 in
        scheme|schemename)
            if [[ $1 == scheme && $PREFIX == */* ]]; then
                _files -g '*.tsbak'
                return
            fi
            names=(${(f)"$(_call_program schemes $program $globals --quiet schemes 2>/dev/null)"})
            compadd -a names ;;
        backup)
            names=(${(f)"$(_call_program backups $program $globals --quiet backups ${(Q)line[1]} 2>/dev/null | cut -f1)"} latest)
            compadd -a names ;;
        backuppath)
            names=(${(f)"$(_call_program contents $program $globals --quiet contents ${(Q)line[1]} ${(Q)line[2]} 2>/dev/null | cut -f2)"})
            compadd -a names ;;
        path) _files ;;
        folder) _files -/ ;;
        csm) _files -g '*.csm' ;;
        command) _describe command _tessarook_cli_command_list ;;
        words:*) names=(${(s:|:)${1#words:}}); compadd -a names ;;
        *) _message ${2:-value} ;;
    esac
}

_tessarook-cli() {
    local program=${words[1]} i cmd="" at=0
    local -a globals reply
    # The command: the first word that is neither an option nor an option's value.
    for ((i = 2; i < CURRENT; i++)); do
        case ${words[i]} in
            --schemes-dir|--settings) globals+=(${words[i]} ${(Q)words[i+1]}); ((i++)) ;;
            --jobs) ((i++)) ;;
            -*) ;;
            *) cmd=${words[i]}; at=$i; break ;;
        esac
    done
    if [[ -z $cmd ]]; then
        _arguments -s $_tessarook_cli_global_specs '1:command:_tessarook_cli_offer command'
        return
    fi
    # What follows the command: its options, the program's own, its arguments.
    for ((i = at + 1; i < CURRENT; i++)); do
        case ${words[i]} in
            --schemes-dir|--settings) globals+=(${words[i]} ${(Q)words[i+1]}) ;;
        esac
    done
    _tessarook_cli_command_specs $cmd
    words=(${words[at,-1]})
    ((CURRENT -= at - 1))
    _arguments -s ${_tessarook_cli_global_specs:#*--version*} $reply
}

_tessarook-cli "$@"
