#!/usr/bin/env bash
# Installs what building and testing the setup program needs on a Debian machine. Idempotent: a
# machine that has everything is left alone and nothing is fetched.
set -euo pipefail

packages=(
  cmake make g++ googletest libgtest-dev clang-14 libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 xvfb xauth x11-utils fonts-wqy-microhei imagemagick locales xorriso
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-machine: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale: zh_TW.UTF-8 gives 950 (Big5).
if ! locale -a 2>/dev/null | grep -qi '^zh_TW\.utf-\?8$'; then
  echo "setup-machine: generating the zh_TW.UTF-8 locale"
  if [ -f /etc/locale.gen ] && grep -q '^# *zh_TW.UTF-8 UTF-8' /etc/locale.gen; then
    "${sudo_cmd[@]}" sed -i 's/^# *\(zh_TW.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^zh_TW.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo "zh_TW.UTF-8 UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
