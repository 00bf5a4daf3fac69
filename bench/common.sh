# What the bench scripts share, sourced by them: their options and their
# working folder.

# Reads `--NAME VALUE` for each NAME listed in $1 into the variable of that
# name, which holds the script's default; -h or --help prints the comment at
# the top of the script (lines 2 to $2); anything else is refused.
bench_options() {
    local names=" $1 " header=$2
    shift 2
    while (($#)); do
        case "$1" in
            -h | --help) sed -n "2,${header}p" "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
            --*) if [[ $names == *" ${1#--} "* ]]; then printf -v "${1#--}" '%s' "$2"; shift 2; continue; fi ;;
        esac
        echo "$(basename "$0" .sh): unknown argument $1" >&2
        exit 2
    done
}

# Sets `work` to the folder $1, made when missing and kept, or when $1 is
# empty to a new temporary folder removed when the script ends.
bench_workdir() {
    if [[ -n $1 ]]; then
        work=$1
        mkdir -p "$work"
    else
        work=$(mktemp -d)
        trap 'rm -rf "$work"' EXIT
    fi
}
