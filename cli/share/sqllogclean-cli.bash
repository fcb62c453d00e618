# bash completion for sqllogclean-cli
_sqllogclean_cli()
{
    local cur prev words cword
    _init_completion || return
    case $prev in
        --servers-file) _filedir; return ;;
        --truncate-on-checkpoint) COMPREPLY=($(compgen -W 'on off' -- "$cur")); return ;;
        -j | --jobs | --login-timeout | -d | --database | -f | --file) return ;;
    esac
    local command="" word
    for word in "${words[@]:1:cword-1}"; do
        [[ $word == report || $word == clean ]] && command=$word
    done
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W 'report clean --help --version' -- "$cur"))
    elif [[ $cur == -* && $command == report ]]; then
        COMPREPLY=($(compgen -W '--servers-file --discover --jobs --login-timeout --json --password-stdin --help' -- "$cur"))
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--database --file --truncate-on-checkpoint --yes --login-timeout --json
            --password-stdin --help' -- "$cur"))
    fi
} &&
    complete -F _sqllogclean_cli sqllogclean-cli
