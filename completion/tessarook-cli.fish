# SPDX-License-Identifier: GPL-3.0-or-later
# fish completion for tessarook-cli
#
# The build puts the command table here (the line below is its place).
# Scheme, Backup and path names come from the program itself, asked with the
# My Schemes folder options already typed on the line; fish quotes what it
# inserts.

# <<TESSAROOK_CLI_TABLE>>

# Sets __tessarook_cli_cmd, __tessarook_cli_args (the arguments typed after
# it, options and their values left out) and __tessarook_cli_globals (the My
# Schemes folder options typed).
function __tessarook_cli_parts
    set -l tokens (commandline -opc)
    set -e tokens[1]
    set -g __tessarook_cli_cmd ''
    set -g __tessarook_cli_args
    set -g __tessarook_cli_globals
    set -l value_of ''
    set -l ended 0
    for t in $tokens
        if test -n "$value_of"
            if contains -- $value_of --schemes-dir --settings
                set -a __tessarook_cli_globals $value_of $t
            end
            set value_of ''
        else if test $ended = 0 -a -n "$__tessarook_cli_cmd" -a "$t" = --
            set ended 1
        else if test $ended = 0; and string match -q -- '-*' $t
            if contains -- $t $__tessarook_cli_valued
                set value_of $t
            end
        else if test -z "$__tessarook_cli_cmd"
            set -g __tessarook_cli_cmd $t
        else
            set -a __tessarook_cli_args $t
        end
    end
end

# True when the command typed is $argv[1] ('' for none yet).
function __tessarook_cli_command_is
    __tessarook_cli_parts
    test "$__tessarook_cli_cmd" = "$argv[1]"
end

# True when the command is $argv[1] and argument $argv[2] (from 0) is being
# typed; with "more", any argument from that one on.
function __tessarook_cli_at_argument
    __tessarook_cli_parts
    test "$__tessarook_cli_cmd" = "$argv[1]"; or return 1
    set -l n (count $__tessarook_cli_args)
    test $n -eq $argv[2]; and return 0
    test (count $argv) -ge 3 -a $n -ge $argv[2]
end

# Prints what stands for kind $argv[1].
function __tessarook_cli_offer
    set -l cli (commandline -opc)[1]
    set -l token (commandline -ct)
    switch $argv[1]
        case scheme schemename
            if test $argv[1] = scheme; and string match -q -- '*/*' $token
                __fish_complete_suffix .tsbak
            else
                $cli $__tessarook_cli_globals --quiet schemes 2>/dev/null
            end
        case backup
            $cli $__tessarook_cli_globals --quiet backups $__tessarook_cli_args[1] 2>/dev/null | string split -f1 \t
            echo latest
        case backuppath
            $cli $__tessarook_cli_globals --quiet contents $__tessarook_cli_args[1..2] 2>/dev/null | string split -f2 \t
        case path
            __fish_complete_path $token
        case folder
            __fish_complete_directories $token
        case csm
            __fish_complete_suffix .csm
        case command
            printf '%s\n' $__tessarook_cli_commands
    end
end

complete -c tessarook-cli -f
