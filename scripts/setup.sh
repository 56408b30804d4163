#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test KORVEX.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev gcovr pkg-config
          libcli11-dev libedit-dev nlohmann-json3-dev python3 libmosquitto-dev mosquitto
          mosquitto-clients libsystemd-dev help2man openssl libcpp-httplib-dev libjs-dygraphs
          chromium chromium-driver python3-selenium)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
