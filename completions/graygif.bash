# bash completion for graygif: the long options, the values of --scale= and --colormap=,
# folders for --output-dir=, and file names (data files, --animate=).

_graygif_options='--help --version --range= --clip= --scale= --limits --colormap= --animate=
--animate-only --delay= --output-dir= --width= --height= --transpose --replace --no-log --time
--debug --copyright --threads= --auto-size --one-scale --double --quiet --nodata
--nodata-gray= --skip-rows= --skip-columns= --decimal-comma --bin='

_graygif() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev='' option='' value='' prefix=''
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # With "=" among COMP_WORDBREAKS (the default) "--scale=lo" is the three words "--scale", "="
    # and "lo", and a reply is the value alone; without it one word, and a reply the whole of it.
    if [[ $cur == = && $prev == --* ]]; then
        option=$prev
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD - 2]} == --* ]]; then
        option=${COMP_WORDS[COMP_CWORD - 2]} value=$cur
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*} value=${cur#*=} prefix=${cur%%=*}=
    fi
    COMPREPLY=()
    if [[ -n $option ]]; then
        case ${option,,} in # option names in any letter case, as the program takes them
        --scale) mapfile -t COMPREPLY < <(compgen -W 'linear log sqrt asinh' -- "$value") ;;
        --colormap)
            mapfile -t COMPREPLY < <(compgen -W \
                'gray viridis magma inferno plasma cividis coolwarm' -- "$value")
            ;;
        --output-dir)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$value")
            ;;
        --animate)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$value")
            ;;
        esac # the others take numbers
        ((${#COMPREPLY[@]})) && COMPREPLY=("${COMPREPLY[@]/#/$prefix}")
        return 0
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_graygif_options" -- "$cur")
        # An option that takes a value waits for it after its "=".
        [[ ${#COMPREPLY[@]} == 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
        return 0
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return 0
}
complete -F _graygif graygif
