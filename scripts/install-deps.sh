#!/usr/bin/env bash
# Installs the Debian packages a make target needs, only those missing.
# Usage: install-deps.sh build|test|bench|fuzz|package
set -euo pipefail

# SDL_ttf and the DejaVu font draw the editor's help sheet.
build=(build-essential cmake pkg-config zlib1g-dev libsdl1.2-dev libpng-dev libacl1-dev libattr1-dev
    libsdl-ttf2.0-dev fonts-dejavu-core)
case "${1:-build}" in
build) want=("${build[@]}") ;;
test) want=("${build[@]}" libgtest-dev xvfb xauth xdotool x11-apps python3 groff-base clang
    libclang-rt-14-dev clang-format) ;;
bench) want=("${build[@]}" libbenchmark-dev) ;;
fuzz) want=("${build[@]}" clang libclang-rt-14-dev) ;;
package) want=("${build[@]}" dpkg-dev) ;;
*)
    echo "usage: $0 build|test|bench|fuzz|package"
    exit 2
    ;;
esac

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
