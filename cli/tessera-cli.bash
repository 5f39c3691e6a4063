# bash completion for tessera-cli: its commands and options, .zpk packages and .zip, .7z and
# .rar downloads where a source is wanted, archives for list, and folders for --game and where a folder is wanted.

# Files of $cur whose names end in one of the given extensions (any letter case), and folders.
_tessera_cli_files()
{
    local ext pattern
    compopt -o filenames 2>/dev/null
    for ext in "$@"; do
        pattern=
        local i c
        for ((i = 0; i < ${#ext}; i++)); do
            c=${ext:i:1}
            pattern+="[${c,}${c^}]"
        done
        COMPREPLY+=($(compgen -f -X "!*.$pattern" -- "$cur"))
    done
    COMPREPLY+=($(compgen -d -- "$cur"))
}

_tessera_cli_folders()
{
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -d -- "$cur"))
}

_tessera_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local IFS=$'\n'
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W $'install\ncheck\nrecover\nhistory\nuninstall\nrestore\ncompact\nlist\nextract\npack\n--help\n--version' -- "$cur"))
        return
    fi
    if [[ $prev == --game || $prev == --from ]]; then
        _tessera_cli_folders
        return
    fi
    local command=${COMP_WORDS[1]}
    if [[ $cur == -* ]]; then
        case $command in
            install) COMPREPLY=($(compgen -W $'--game\n--dry-run\n--from\n--help' -- "$cur")) ;;
            pack) COMPREPLY=($(compgen -W $'--from\n--help' -- "$cur")) ;;
            recover) COMPREPLY=($(compgen -W $'--game\n--help' -- "$cur")) ;;
            history) COMPREPLY=($(compgen -W $'--game\n--json\n--help' -- "$cur")) ;;
            check) COMPREPLY=($(compgen -W $'--json\n--help' -- "$cur")) ;;
            uninstall) COMPREPLY=($(compgen -W $'--game\n--with-later\n--dry-run\n--help' -- "$cur")) ;;
            restore | compact) COMPREPLY=($(compgen -W $'--game\n--dry-run\n--help' -- "$cur")) ;;
            *) COMPREPLY=($(compgen -W '--help' -- "$cur")) ;;
        esac
        return
    fi
    # The position of the word among the command's arguments, options and their values left out.
    local i position=0
    for ((i = 2; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --game | --from) ((i++)) ;;
            -*) ;;
            *) ((position++)) ;;
        esac
    done
    case $command:$position in
        install:0 | pack:0) _tessera_cli_files zpk zip 7z rar ;;
        extract:0) _tessera_cli_files zpk ;;
        list:0) _tessera_cli_files dir img zpk ;;
        check:0 | extract:1) _tessera_cli_folders ;;
        pack:1)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            ;;
    esac
}

complete -F _tessera_cli tessera-cli
