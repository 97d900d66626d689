#compdef tessarook-cli
# SPDX-License-Identifier: GPL-3.0-or-later
# zsh completion for tessarook-cli
#
# The build puts the command table here (the line below is its place).
# Scheme, Backup and path names come from the program itself, asked with the
# My Schemes folder options already typed on the line; compadd quotes what it
# inserts.

# <<TESSAROOK_CLI_TABLE>>

# Offers what stands for the kind given last. Reads the caller's "program" and "globals"
# and the arguments _arguments found so far ("line"). _call_program reads its
# words as shell code: each is quoted.
_tessarook_cli_offer() {
    # _arguments puts its compadd options first: the kind is the last word.
    local kind=${@[-1]}
    local -a names opts=("${@[1,-2]}")
    local ask="${(q)program} ${(@q)globals} --quiet"
    case $kind in
        scheme|schemename)
            if [[ $kind == scheme && $PREFIX == */* ]]; then
                _files "${opts[@]}" -g '*.tsbak'
                return
            fi
            names=(${(f)"$(_call_program schemes "$ask schemes" 2>/dev/null)"})
            compadd "${opts[@]}" -a names ;;
        backup)
            names=(${(f)"$(_call_program backups "$ask backups ${(q)${(Q)line[1]}}" 2>/dev/null | cut -f1)"} latest)
            compadd "${opts[@]}" -a names ;;
        backuppath)
            names=(${(f)"$(_call_program contents "$ask contents ${(q)${(Q)line[1]}} ${(q)${(Q)line[2]}}" 2>/dev/null | cut -f2)"})
            compadd "${opts[@]}" -a names ;;
        path) _files "${opts[@]}" ;;
        folder) _files "${opts[@]}" -/ ;;
        csm) _files "${opts[@]}" -g '*.csm' ;;
        command) _describe command _tessarook_cli_command_list ;;
        *) _message value ;;
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
