#!/usr/bin/env bash
# Installs the Debian packages the project needs when any is missing, and the
# decimal-comma locale the tests use. Safe to run again: it does nothing when
# everything is present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libjpeg62-turbo-dev zlib1g-dev
  libx11-dev libgtk-3-dev xvfb xauth
  locales
  python3 python3-pil imagemagick pngcheck openimageio-tools
  libstb-dev libsquish-dev
  clang libclang-rt-14-dev
  g++-multilib libpng-dev:i386 libjpeg62-turbo-dev:i386 zlib1g-dev:i386 libgtest-dev:i386 libgmock-dev:i386
)
if [ "$#" -gt 0 ]; then packages+=("$@"); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

if [ "${#missing[@]}" -gt 0 ]; then
  # The 32-bit build takes its libraries from Debian's i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  echo "setup: installing ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# A locale with a decimal comma, so that the tests can show that files are
# written with a decimal point whatever the host's numeric locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "setup: generating de_DE.UTF-8" >&2
  if [ -f /etc/locale.gen ]; then
    $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >&2
  else
    $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
  fi
fi
