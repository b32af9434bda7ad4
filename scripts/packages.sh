#!/usr/bin/env bash
# Sourced by the play, test and package commands: pz_require GROUP... finds the
# packages of those groups in scripts/packages.list that this machine lacks. As
# root it installs them with apt-get, a line at a time saying how far it has got;
# otherwise it prints the command that would (with sudo where there is one).
# Run as a command, scripts/packages.sh GROUP... does the same.

PZ_PACKAGE_LIST=${BASH_SOURCE[0]%/*}/packages.list

# True when luit's encoding tables are not wanted: no luit command (the luit
# package, once installed, brings its own), or one that converts Windows-1251.
# The luit of x11-utils knows CP1251 by name only until xfonts-encodings is there.
pz_luit_converts() {
    command -v luit >/dev/null && command -v script >/dev/null || return 0
    local shown
    shown=$(LC_ALL=C.UTF-8 SHELL=/bin/sh timeout 5 script -qec \
        "luit -encoding CP1251 -- printf '\\317\\360\\350\\342\\345\\362'" /dev/null </dev/null 2>/dev/null)
    [[ $shown == *Привет* ]]
}

# True when the package is there: for probe "-", dpkg says it is installed
# (without dpkg nobody can tell, so yes); for a probe named pz_..., that function
# says it is not wanted; otherwise the probe is a command the package brings.
pz_present() {
    local package=$1 probe=$2
    case $probe in
        -)
            command -v dpkg-query >/dev/null || return 0
            [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] ;;
        pz_*) pz_present "$package" - || "$probe" ;;
        *) command -v "$probe" >/dev/null ;;
    esac
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

# Leaves out of pz_packages those that apt has no version of on this release,
# naming them on stderr; keeps them all when apt cannot tell (no package lists).
pz_drop_unknown() {
    local caller=$1 package kept=() unknown=()
    local -A candidate=()
    command -v apt-cache >/dev/null || return 0
    while read -r package version; do
        candidate[$package]=$version
    done < <(LC_ALL=C apt-cache policy "${pz_packages[@]}" 2>/dev/null |
        awk '/^[^ ].*:$/ { name = substr($0, 1, length($0) - 1) } /^ +Candidate:/ { print name, $2 }')
    ((${#candidate[@]} > 0)) || [ -n "$(LC_ALL=C apt-cache policy 2>/dev/null | grep -m1 Packages)" ] || return 0
    for package in "${pz_packages[@]}"; do
        case ${candidate[$package]:-(none)} in
            "(none)") unknown+=("$package") ;;
            *) kept+=("$package") ;;
        esac
    done
    ((${#unknown[@]} == 0)) && return 0
    echo "$caller: this release has no package ${unknown[*]}; going on without it" >&2
    pz_packages=("${kept[@]}")
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

# Reads apt-get's status lines (APT::Status-Fd) and prints one line each time the
# download or the installation has gone another tenth of its way.
pz_show_progress() {
    awk -v caller="$1" -F: '
        $1 == "dlstatus" || $1 == "pmstatus" {
            stage = $1 == "dlstatus" ? "downloaded" : "installed"
            step = int($3 / 10) * 10
            if (stage != last || step > shown) {
                printf "%s: apt-get: %d%% %s (%s)\n", caller, step, stage, $4 > "/dev/stderr"
                fflush("/dev/stderr")
                last = stage; shown = step
            }
        }'
}

# Updates apt's lists and installs pz_packages, showing progress; on failure
# shows the end of apt-get's output. Returns apt-get's verdict.
pz_apt_install() {
    local caller=$1 log status=0
    log=$(mktemp "${TMPDIR:-/tmp}/pz-apt.XXXXXX") || return 1
    echo "$caller: updating apt's package lists" >&2
    apt-get update -q >"$log" 2>&1 || status=$?
    if ((status == 0)); then
        pz_drop_unknown "$caller"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends --no-remove \
            -o APT::Status-Fd=3 "${pz_packages[@]}" 3>&1 >>"$log" 2>&1 | pz_show_progress "$caller"
        status=${PIPESTATUS[0]}
    fi
    ((status == 0)) || { tail -n 30 "$log" >&2; echo "$caller: apt-get failed; its output ends above" >&2; }
    rm -f "$log"
    return "$status"
}

# Returns 0 once everything the groups need is there, or what this release
# lacks left out; otherwise 1, having said why in one line on stderr.
pz_require() {
    local caller=${0##*/}
    pz_find_missing "$@"
    [ ${#pz_packages[@]} -eq 0 ] && return 0
    if ! command -v apt-get >/dev/null; then
        echo "$caller: missing $pz_reasons; install them with this system's package manager" >&2
        return 1
    fi
    if [ "$(id -u)" != 0 ]; then
        pz_drop_unknown "$caller"
        echo "$caller: missing $pz_reasons; install them with: $(pz_install_hint)" >&2
        return 1
    fi
    echo "$caller: installing $pz_reasons" >&2
    pz_apt_install "$caller"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    pz_require "$@"
fi
