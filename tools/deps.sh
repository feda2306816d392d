#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demonstration need,
# only those that are missing. Meant to be sourced or run as root on Debian 12.
set -euo pipefail

starscam_packages=(cmake g++ make qtbase5-dev libfli-dev libcfitsio-dev libpng-dev libedit-dev tmux)

starscam_install_deps() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    starscam_install_deps "${starscam_packages[@]}" "$@"
fi
