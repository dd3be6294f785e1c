# bash completion for tavixconnect: commands, their options, and the names of the user's
# connections where a command takes one.
_tavixconnect() {
    local cur prev words cword
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    }
    local commands="split make equivalent list show name set delete rename copy default export import where dialog --help --version"
    if ((cword == 1)); then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
    fi
    case $prev in
        -o|--icon) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --index|--name|--connstring|--title) return ;;
    esac
    local command=${words[1]}
    case $command in
        list) COMPREPLY=($(compgen -W "--json" -- "$cur")) ;;
        import) COMPREPLY=($(compgen -f -- "$cur")) ;;
        export) COMPREPLY=($(compgen -W "-o" -- "$cur")) ;;
        dialog) COMPREPLY=($(compgen -W "--name --connstring --title --no-icon" -- "$cur")) ;;
        show|delete|rename|copy|default|set)
            if [[ $cur == -* ]]; then
                case $command in
                    show) COMPREPLY=($(compgen -W "--json" -- "$cur")) ;;
                    set) COMPREPLY=($(compgen -W "--icon --index --no-save" -- "$cur")) ;;
                esac
            elif ((cword == 2)); then
                # The names as list prints them: after the marker column, up to two blanks.
                local IFS=$'\n' names
                names=$(tavixconnect list 2>/dev/null | sed -e 's/^..//' -e 's/  .*$//')
                COMPREPLY=($(compgen -W "$names" -- "$cur"))
            fi
            ;;
    esac
}
complete -F _tavixconnect tavixconnect
