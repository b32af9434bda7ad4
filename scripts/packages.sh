#!/usr/bin/env bash
# Sourced by the play, test and package commands: pz_require GROUP... finds the
# packages of those groups in scripts/packages.list that this machine lacks. As
# root it installs them with apt-get; otherwise it prints the command that would
# (with sudo where there is one).
# Run as a command, scripts/packages.sh GROUP... does the same.

PZ_PACKAGE_LIST=${BASH_SOURCE[0]%/*}/packages.list

# True when the package is there: its probe command is on PATH, or, for probe
# "-", dpkg says it is installed (without dpkg nobody can tell, so yes).
pz_present() {
    local package=$1 probe=$2
    if [ "$probe" != - ]; then
        command -v "$probe" >/dev/null
    elif command -v dpkg-query >/dev/null; then
        [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ]
    fi
}

# Sets pz_packages to the missing packages of the groups asked for, each once,
# and pz_reasons to "PACKAGES (why); ..." for the groups that lack any.
pz_find_missing() {
    local wanted=" $* " first second rest group
    local -A why=() lacking=() seen=()
    pz_packages=() pz_reasons=
    while read -r first second rest; do
        case $first in '' | '#'*) continue ;; esac
        if [ "$first" = group ]; then why[$second]=$rest; continue; fi
        [[ $wanted == *" $first "* && -z ${seen[$second]:-} ]] || continue
        seen[$second]=1
        pz_present "$second" "$rest" && continue
        pz_packages+=("$second")
        lacking[$first]+="${lacking[$first]:+ }$second"
    done <"$PZ_PACKAGE_LIST"
    for group in "$@"; do
        [ -n "${lacking[$group]:-}" ] && pz_reasons+="${pz_reasons:+; }${lacking[$group]} (${why[$group]:-$group})"
    done
    return 0
}

# The command that installs pz_packages, for one who is not root: through sudo
# where there is one (a bare Debian has none), otherwise as root.
pz_install_hint() {
    if command -v sudo >/dev/null; then
        echo "sudo apt-get install ${pz_packages[*]}"
    else
        echo "apt-get install ${pz_packages[*]} (as root)"
    fi
}

# Returns 0 once everything the groups need is there; otherwise 1, having said
# why in one line on stderr.
pz_require() {
    local caller=${0##*/} output
    pz_find_missing "$@"
    [ ${#pz_packages[@]} -eq 0 ] && return 0
    if ! command -v apt-get >/dev/null; then
        echo "$caller: missing $pz_reasons; install them with this system's package manager" >&2
        return 1
    fi
    if [ "$(id -u)" != 0 ]; then
        echo "$caller: missing $pz_reasons; install them with: $(pz_install_hint)" >&2
        return 1
    fi
    echo "$caller: installing $pz_reasons" >&2
    if ! output=$(apt-get update -qq 2>&1 &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${pz_packages[@]}" 2>&1); then
        printf '%s\n' "$output" >&2
        echo "$caller: apt-get failed; see above" >&2
        return 1
    fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    pz_require "$@"
fi
