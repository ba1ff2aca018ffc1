#!/usr/bin/env bash
# Installs the Debian packages the Windows cross-build needs (only those
# missing), then builds, once, the static libraries for x86_64-w64-mingw32
# from Debian's source packages into build-windows/deps/prefix: SDL 1.2,
# libpng and GoogleTest. zlib is Debian's libz-mingw-w64-dev.
# A library with a stamp in build-windows/deps/stamps is not built again;
# delete its stamp (or build-windows/deps) to rebuild it.
# No SDL_ttf (nor FreeType under it): the archive this was made with
# serves none of the files of Debian's sdl-ttf2.0 source package, so the
# Windows build draws no help sheet.
# Usage: scripts/windows-deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
deps=$root/build-windows/deps
prefix=$deps/prefix
host=x86_64-w64-mingw32
jobs=$(nproc 2>/dev/null || echo 2)

# --- Debian packages ---------------------------------------------------------
# dpkg-dev unpacks source packages; xvfb, xauth and xdotool serve the
# window tests.
want=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 dpkg-dev build-essential cmake
    xvfb xauth xdotool unzip zip)
missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- Debian source packages, through a private apt state ------------------------
# The deb-src entries are the machine's own deb entries with the type
# changed, so the sources come from wherever its binaries do. Nothing of
# the system's apt configuration or lists is touched, and no root is needed.
apt_dir=$deps/apt
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
# As root apt downloads as _apt, which cannot write into this tree.
[ "$(id -u)" -eq 0 ] && apt_opts+=(-o APT::Sandbox::User=root)
apt_ready=""

prepare_apt() {
    [ -z "$apt_ready" ] || return 0
    rm -rf "$apt_dir"
    mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    : >"$apt_dir/sources.list"
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        if [ -f "$f" ]; then
            sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt_dir/sources.list"
        fi
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        if [ -f "$f" ]; then
            sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/${f##*/}"
        fi
    done
    # A third-party entry without sources fails here; the fetch says
    # whether what is needed was found.
    apt-get "${apt_opts[@]}" update -qq || echo "apt-get update of the source entries had errors" >&2
    apt_ready=1
}

# Fetches source package $1 into src/$1 (kept for later runs) and sets
# $tree to the unpacked, patched tree. A mirror may lack the files of the
# newest version it lists, so older listed versions are tried in turn.
fetch() {
    local pkg=$1 dir=$deps/src/$1 v
    if ! compgen -G "$dir/*/debian/changelog" >/dev/null; then
        prepare_apt
        for v in $(apt-cache "${apt_opts[@]}" showsrc --only-source "$pkg" |
            sed -n 's/^Version: //p' | sort -urV); do
            rm -rf "$dir"
            mkdir -p "$dir"
            if (cd "$dir" && apt-get "${apt_opts[@]}" source -qq --only-source "$pkg=$v") \
                >"$deps/src/$pkg.log" 2>&1; then
                break
            fi
            echo "source $pkg $v could not be fetched, trying an older one" >&2
        done
        compgen -G "$dir/*/debian/changelog" >/dev/null || {
            echo "no source package $pkg could be fetched (see $deps/src/$pkg.log)" >&2
            return 1
        }
    fi
    tree=$(dirname "$(compgen -G "$dir/*/debian/changelog" | head -n1)")
    tree=$(dirname "$tree")
}

# Runs a build step with its output in $log; shows the end of it on failure.
step() {
    "$@" >>"$log" 2>&1 || {
        tail -n 40 "$log" >&2
        echo "failed: $* (whole log: $log)" >&2
        return 1
    }
}

# Sets up a fresh build folder for library $1 and its log.
begin() {
    echo "Building $1 for Windows (log: build-windows/deps/build/$1.log)"
    bdir=$deps/build/$1
    log=$deps/build/$1.log
    rm -rf "$bdir"
    mkdir -p "$bdir" "$prefix" "$deps/licences" "$deps/stamps"
    : >"$log"
}

# The same compilers as cmake/mingw-w64.cmake names.
export CC=$host-gcc-posix CXX=$host-g++-posix
# Configure scripts must see only the Windows libraries' pkg-config files.
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:/usr/$host/lib/pkgconfig
export PKG_CONFIG_PATH=

build_sdl() {
    fetch libsdl1.2
    begin sdl
    cd "$bdir"
    step "$tree/configure" --host=$host --prefix="$prefix" --disable-stdio-redirect \
        --disable-shared --enable-static
    step make -j"$jobs"
    step make install
    cp "$tree/COPYING" "$deps/licences/SDL-1.2.txt"
}

build_png() {
    fetch libpng1.6
    begin png
    cd "$bdir"
    step "$tree/configure" --host=$host --prefix="$prefix" --disable-shared --enable-static
    step make -j"$jobs"
    step make install
    cp "$tree/LICENSE" "$deps/licences/libpng.txt"
}

# CMake libraries build with the project's own toolchain file.
cmake_lib() {
    local src=$1
    shift
    step cmake -S "$src" -B "$bdir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
    step cmake --build "$bdir" -j "$jobs"
    step cmake --install "$bdir"
}

build_googletest() {
    fetch googletest
    begin googletest
    # Only the tests use it and it is not shipped, so no licence is kept.
    cmake_lib "$tree" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

for lib in sdl png googletest; do
    [ -f "$deps/stamps/$lib" ] && continue
    start=$SECONDS
    "build_$lib"
    cd "$root"
    touch "$deps/stamps/$lib"
    echo "  $lib: $((SECONDS - start)) s"
done

# Licences of what is linked but not built here.
mkdir -p "$deps/licences"
cp /usr/share/doc/libz-mingw-w64-dev/copyright "$deps/licences/zlib.txt"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$deps/licences/mingw-w64-runtime.txt"
