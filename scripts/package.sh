#!/bin/bash
# Builds the packages into dist/:
#   ostrevane_<version>-1_<arch>.deb          the Debian package (CPack), checked
#                                             with lintian, desktop-file-validate
#                                             and appstreamcli validate
#   ostrevane_<version>-1_arm64.deb           the same for arm64 or armhf (cross
#   ostrevane_<version>-1_armhf.deb           builds; their files those of the
#                                             amd64 package)
#   ostrevane-<version>-windows-x86_64.zip    the Windows programs (MinGW-w64
#                                             cross build), the README and the licence
# Installs what it needs when missing (asking for root through sudo when not
# root). A package that fails its checks is not left in dist/.
#
# Usage: scripts/package.sh [deb|zip|all|arm64|armhf]   (default: all: deb and zip)
# Exit status: 0 the packages made and checked, 1 a step failed, 2 bad usage.
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
case "$what" in
    deb|zip|all|arm64|armhf) ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: scripts/package.sh [deb|zip|all|arm64|armhf]" >&2; exit 2 ;;
esac

# dist/ is this script's own folder: a link or a file in its place is not.
if [ -L dist ] || { [ -e dist ] && [ ! -d dist ]; }; then
    echo "package.sh: dist is not a folder; move it away first" >&2
    exit 1
fi
scripts/deps.sh package
# A cross build's libraries beside the host's, or when the archive cannot
# give them there now, in a sysroot with dpkg records of its own, which
# dpkg-shlibdeps then reads (packaging/debian/sysroot-shlibdeps).
sysroot=""
case "$what" in
    arm64|armhf)
        if ! scripts/deps.sh "$what"; then
            scripts/deps.sh "$what-sysroot"
            sysroot=$PWD/build/sysroot-$what
            echo "package.sh: $what built against $sysroot: its libraries cannot be installed beside the host's now" >&2
            shlibdeps=$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-package.XXXXXX")
            trap 'rm -rf "$shlibdeps"' EXIT
            ln -s "$PWD/packaging/debian/sysroot-shlibdeps" "$shlibdeps/dpkg-shlibdeps"
            export PATH=$shlibdeps:$PATH OSTREVANE_SHLIBDEPS_SYSROOT=$sysroot
        fi ;;
esac
mkdir -p dist
# Dates inside the packages (the Debian changelog's) are the last commit's,
# so that the same sources make the same packages.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi
jobs=$(nproc)
# The application's id: the desktop entry's and the AppStream metainfo's name.
app_id=io.github.ostrevane.ostrevane

# Moves a finished package into dist/ in one step, replacing older ones of
# the same kind ($2 is their glob). The copy goes first to a file mktemp
# makes, never to a name that something else may already hold.
publish() {
    local file=$1 pattern=$2 temporary
    temporary=$(mktemp "dist/.$(basename "$file").XXXXXX")
    if ! cp "$file" "$temporary" || ! chmod 644 "$temporary"; then
        rm -f "$temporary"
        return 1
    fi
    # shellcheck disable=SC2086
    rm -f dist/$pattern
    mv -T "$temporary" "dist/$(basename "$file")"
    echo "package.sh: dist/$(basename "$file")"
}

# The Debian package for this machine, or with another architecture (arm64,
# armhf) the cross-built one (preset package-<arch>), whose icons this
# machine's render tool draws.
build_deb() {
    local arch=${1:-$(dpkg --print-architecture)} preset=package icons=() fresh=""
    if [ "$arch" != "$(dpkg --print-architecture)" ]; then
        # Afresh: the libraries found may have moved (into a sysroot or out).
        preset=package-$arch fresh=--fresh
        cmake --preset lean >/dev/null
        cmake --build --preset lean --target ostrevane-render -j "$jobs"
        icons=(-DOSTREVANE_ICON_RENDER="$PWD/build/lean/tools/ostrevane-render")
    fi
    # Debian's hardening flags, as a Debian build of the package would use.
    # DEB_HOST_ARCH: the flags, and the libraries dpkg-shlibdeps reads the
    # Depends from, are the package's architecture's.
    export DEB_HOST_ARCH=$arch
    local cxxflags ldflags
    cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    ldflags=$(dpkg-buildflags --get LDFLAGS)
    cmake --preset "$preset" $fresh -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_C_FLAGS="$cxxflags" \
        -DCMAKE_EXE_LINKER_FLAGS="$ldflags -Wl,-z,now" "${icons[@]}" \
        -DOSTREVANE_CROSS_SYSROOT="$sysroot"
    cmake --build --preset "$preset" -j "$jobs"
    rm -rf "build/$preset/cpack"
    (cd "build/$preset" && cpack -G DEB -B "$PWD/cpack")
    unset DEB_HOST_ARCH
    local deb
    deb=$(ls "build/$preset"/cpack/ostrevane_*.deb)
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] ||
        { echo "package.sh: $deb is not for $arch" >&2; return 1; }

    echo "--- dpkg-deb --info and --contents"
    dpkg-deb --info "$deb"
    dpkg-deb --contents "$deb"
    echo "--- lintian"
    # Errors fail the package; warnings are shown.
    lintian --fail-on error --display-info "$deb"
    echo "lintian: no errors"
    echo "--- desktop-file-validate"
    local unpacked
    unpacked=$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-deb.XXXXXX")
    dpkg-deb -x "$deb" "$unpacked"
    if ! desktop-file-validate "$unpacked/usr/share/applications/$app_id.desktop"; then
        rm -rf "$unpacked"
        return 1
    fi
    echo "desktop-file-validate: valid"
    echo "--- appstreamcli validate"
    # Warnings fail the package as errors do; pedantic notes are not shown.
    if ! appstreamcli validate --no-net --no-color "$unpacked/usr/share/metainfo/$app_id.metainfo.xml"; then
        rm -rf "$unpacked"
        return 1
    fi
    rm -rf "$unpacked"
    [ ${#icons[@]} -eq 0 ] || same_files_as_native "$deb"
    publish "$deb" "ostrevane_*_$arch.deb"
}

# A cross-built package holds the files of this machine's one in dist/ (when
# there is one), with its own multiarch library folder.
same_files_as_native() {
    local deb=$1 native ours theirs
    if ! native=$(ls dist/ostrevane_*_"$(dpkg --print-architecture)".deb 2>/dev/null); then
        echo "note: no package for this machine in dist/ to compare $deb with"
        return 0
    fi
    ours=$(dpkg-architecture -a "$(dpkg-deb -f "$deb" Architecture)" -qDEB_HOST_MULTIARCH 2>/dev/null)
    theirs=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)
    if ! diff <(dpkg-deb --contents "$native" | awk '{print $6}' | sed "s|/$theirs/|/$ours/|" | sort) \
              <(dpkg-deb --contents "$deb" | awk '{print $6}' | sort); then
        echo "package.sh: $deb does not hold the files of $native (< $native, > $deb)" >&2
        return 1
    fi
    echo "same files as $native"
}

build_zip() {
    cmake --preset package-mingw
    cmake --build --preset package-mingw -j "$jobs"
    rm -rf build/package-mingw/cpack
    (cd build/package-mingw && cpack -G ZIP -B "$PWD/cpack")
    local zip
    zip=$(ls build/package-mingw/cpack/ostrevane-*-windows-x86_64.zip)
    python3 tests/packaging/check_zip.py "$zip" "$(project_version)"
    publish "$zip" 'ostrevane-*-windows-x86_64.zip'
}

project_version() {
    sed -n 's/^project(Ostrevane VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt
}

case "$what" in
    deb) build_deb ;;
    arm64|armhf) build_deb "$what" ;;
    zip) build_zip ;;
    all) build_deb; build_zip ;;
esac
