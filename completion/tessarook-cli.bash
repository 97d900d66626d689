# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for tessarook-cli
# shellcheck shell=bash
#
# The build puts the command table here (the line below is its place), so
# the completion knows every command, option and argument the program has.
# Scheme, Backup and path names come from the program itself ("schemes",
# "backups SCHEME", "contents SCHEME BACKUP"), asked with the My Schemes
# folder options already typed on the line. Names are handed to readline as
# file names, so it quotes what it inserts ("2026-12-10\ 02.00.00").

# <<TESSAROOK_CLI_TABLE>>

# REPLY = word $1 as the command will get it: quotes and backslashes taken
# away, a leading ~/ made the home folder.
_tessarook_cli_dequote() {
    local w=$1 out="" c q="" i
    for ((i = 0; i < ${#w}; i++)); do
        c=${w:i:1}
        if [[ $q == "'" ]]; then
            if [[ $c == "'" ]]; then q=""; else out+=$c; fi
        elif [[ $c == "\\" ]]; then
            ((i++))
            c=${w:i:1}
            # Inside double quotes a backslash quotes only $ ` " \.
            [[ $q == '"' && $c != [\$\`\"\\] ]] && out+="\\"
            out+=$c
        elif [[ -z $q && ($c == "'" || $c == '"') ]]; then
            q=$c
        elif [[ $q == '"' && $c == '"' ]]; then
            q=""
        else
            out+=$c
        fi
    done
    [[ $w == \~/* ]] && out=$HOME/${out#\~/}
    REPLY=$out
}

# Offers field $1 of each line the program prints for the rest of the words,
# when it starts with what was typed.
_tessarook_cli_names() {
    local field=$1 line
    local -a fields
    shift
    compopt -o filenames 2>/dev/null
    while IFS= read -r line; do
        IFS=$'\t' read -r -a fields <<<"$line"
        [[ ${fields[field - 1]-} == "$typed"* ]] && COMPREPLY+=("${fields[field - 1]}")
    done < <("$program" "${globals[@]}" --quiet "$@" 2>/dev/null)
}

# Offers files (those matching pattern $1 and folders, when given), or with
# $1 = "/" folders only.
_tessarook_cli_files() {
    local -a found
    compopt -o filenames 2>/dev/null
    if [[ $1 == / ]]; then
        mapfile -t found < <(compgen -d -- "$typed")
    elif [[ -n $1 ]]; then
        mapfile -t found < <(compgen -f -X "!$1" -- "$typed"; compgen -d -- "$typed")
    else
        mapfile -t found < <(compgen -f -- "$typed")
    fi
    COMPREPLY+=("${found[@]}")
}

# Offers what stands for kind $1 (see _tessarook_cli_spec).
_tessarook_cli_offer() {
    case $1 in
        scheme)
            # A Scheme name, or the path of a scheme file.
            if [[ $typed == */* ]]; then
                _tessarook_cli_files '*.tsbak'
            else
                _tessarook_cli_names 1 schemes
            fi
            ;;
        schemename) _tessarook_cli_names 1 schemes ;;
        backup)
            _tessarook_cli_names 1 backups "${positional[0]-}"
            [[ latest == "$typed"* ]] && COMPREPLY+=(latest)
            ;;
        backuppath) _tessarook_cli_names 2 contents "${positional[0]-}" "${positional[1]-}" ;;
        path) _tessarook_cli_files "" ;;
        folder) _tessarook_cli_files / ;;
        csm) _tessarook_cli_files '*.csm' ;;
        command)
            # shellcheck disable=SC2207
            COMPREPLY=($(compgen -W "$_tessarook_cli_commands" -- "$typed")) ;;
        words:*)
            local list=${1#words:}
            # shellcheck disable=SC2207
            COMPREPLY=($(compgen -W "${list//|/ }" -- "$typed")) ;;
    esac
}

_tessarook_cli() {
    local program=${COMP_WORDS[0]} cword=$COMP_CWORD
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local cmd="" word typed kind options global_options i n ended=0
    local -a globals=() positional=() slots=()
    local -A values=()
    COMPREPLY=()
    _tessarook_cli_spec ""
    global_options=$options

    for ((i = 1; i < cword; i++)); do
        word=${COMP_WORDS[i]}
        if ((!ended)) && [[ -n $cmd && $word == -- ]]; then
            ended=1
        elif ((!ended)) && [[ $word == -* ]]; then
            # An option's value is no argument; the My Schemes folder options
            # go along to the program when it is asked for names.
            if [[ -n ${values[$word]-} ]]; then
                if [[ $word == --schemes-dir || $word == --settings ]] && ((i + 1 < cword)); then
                    _tessarook_cli_dequote "${COMP_WORDS[i + 1]}"
                    globals+=("$word" "$REPLY")
                fi
                ((i++))
            fi
        elif [[ -z $cmd ]]; then
            cmd=$word
            _tessarook_cli_spec "$cmd"
        else
            _tessarook_cli_dequote "$word"
            positional+=("$REPLY")
        fi
    done
    _tessarook_cli_dequote "$cur"
    typed=$REPLY

    if ((!ended && cword > 1)) && [[ $prev == -* && -n ${values[$prev]-} ]]; then
        _tessarook_cli_offer "${values[$prev]}"
        return
    fi
    if ((!ended)) && [[ $cur == -* ]]; then
        [[ -n $cmd ]] && options="$options ${global_options/--version/}"
        # shellcheck disable=SC2207
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    if [[ -z $cmd ]]; then
        _tessarook_cli_offer command
        return
    fi
    n=${#positional[@]}
    if ((n < ${#slots[@]})); then
        kind=${slots[n]}
    elif ((${#slots[@]} > 0)) && [[ ${slots[-1]} == *... ]]; then
        kind=${slots[-1]}
    else
        return
    fi
    _tessarook_cli_offer "${kind%...}"
}

complete -F _tessarook_cli tessarook-cli
