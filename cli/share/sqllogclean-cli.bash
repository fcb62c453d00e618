# bash completion for sqllogclean-cli
_sqllogclean_cli()
{
    local cur prev words cword
    _init_completion || return
    case $prev in
        --servers-file) _filedir; return ;;
        -j | --jobs | --login-timeout) return ;;
    esac
    local command="" word
    for word in "${words[@]:1:cword-1}"; do
        [[ $word == report ]] && command=report
    done
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W 'report --help --version' -- "$cur"))
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--servers-file --discover --jobs --login-timeout --json --password-stdin --help' -- "$cur"))
    fi
} &&
    complete -F _sqllogclean_cli sqllogclean-cli
