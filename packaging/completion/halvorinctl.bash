# bash completion for halvorinctl: commands, options, and the enclosures of
# the hosts named with -H (asked for with a short timeout).

_halvorinctl_enclosures() {
    local hosts=() i
    for ((i = 1; i < ${#COMP_WORDS[@]} - 1; i++)); do
        case ${COMP_WORDS[i]} in
            -H | --host) hosts+=(-H "${COMP_WORDS[i + 1]}") ;;
            --host=*) hosts+=(-H "${COMP_WORDS[i]#--host=}") ;;
        esac
    done
    halvorinctl "${hosts[@]}" --timeout 3 show --allow-empty 2>/dev/null |
        sed -n 's/^  Enclosure //p'
}

_halvorinctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="show watch metrics capture ident mute uid-led rename zoning restart shutdown upgrade"
    local global="--host --config --timeout --wait --quiet --yes --json --tls-ca --tls-cert --tls-key --help --version"
    COMPREPLY=()
    case $prev in
        -H | --host | -t | --timeout | --listen | --index | --serial | --expect-enclosures | --activation-wait)
            return ;;
        -c | --config | -o | --output | --tls-ca | --tls-cert | --tls-key)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
    esac
    # The command and the words after it, skipping options and their values.
    local words=() i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -H | --host | -c | --config | -t | --timeout | -o | --output | --listen | --index | --serial | \
                --expect-enclosures | --activation-wait | --tls-ca | --tls-cert | --tls-key) ((i++)) ;;
            -*) ;;
            *) words+=("${COMP_WORDS[i]}") ;;
        esac
    done
    if [[ ${#words[@]} -eq 0 ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$global" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi
    local command=${words[0]} position=${#words[@]}
    if [[ $cur == -* ]]; then
        local own=""
        case $command in
            show) own="--allow-empty --expect-enclosures" ;;
            watch) own="--readings" ;;
            metrics) own="--listen --all-elements" ;;
            capture) own="--output --redact" ;;
            ident) own="--index --serial" ;;
            upgrade) own="--activation-wait" ;;
        esac
        COMPREPLY=($(compgen -W "$global $own" -- "$cur"))
        return
    fi
    case $command in
        ident | mute | uid-led | rename | zoning | restart | shutdown | upgrade | capture)
            if [[ $position -eq 1 ]]; then
                local IFS=$'\n'
                COMPREPLY=($(compgen -W "$(_halvorinctl_enclosures)" -- "$cur"))
                return
            fi ;;
    esac
    case $command:$position in
        ident:2 | ident:3 | uid-led:2) COMPREPLY=($(compgen -W "on off" -- "$cur")) ;;
        zoning:2) COMPREPLY=($(compgen -W "show set apply" -- "$cur")) ;;
        upgrade:2) COMPREPLY=($(compgen -f -- "$cur")) ;;
    esac
}

complete -F _halvorinctl halvorinctl
