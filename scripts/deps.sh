#!/bin/bash
# Installs the Debian packages a task needs, only those missing; for the
# tests also, from the npm registry into build/npm/ (nothing outside the
# tree), axe-core, the accessibility checker the browser tests run in the
# page, and puppeteer-core, which drives Firefox over WebDriver BiDi (the
# installed Firefox: it downloads no browser).
# Usage: scripts/deps.sh run|test|harden|package|web|arm64|armhf|arm64-sysroot|armhf-sysroot
set -euo pipefail
cd "$(dirname "$0")/.."
AXE_CORE_VERSION=4.14.1
PUPPETEER_CORE_VERSION=24.43.1

# The program and the render tool, on X11 and on Wayland.
build=(cmake g++ make pkg-config libx11-dev libxrandr-dev libxext-dev libxdamage-dev libpng-dev
       libx11-xcb-dev libxcb-randr0-dev
       libstb-dev libwayland-dev wayland-protocols libxkbcommon-dev libdecor-0-dev
       libdecor-0-plugin-1-cairo)
# The tests and the benchmarks.
testlibs=(googletest libgtest-dev libbenchmark-dev)
run=(xvfb xauth)
test=(xvfb xauth xdotool x11-utils python3 clang-format
      # Wayland compositors, their screenshot and typing tools; Xwayland for
      # the X11 display under a compositor that goes away.
      weston sway grim xwayland wtype
      # The Windows build and Wine, the reference the conformance tests hold
      # platform/ to.
      g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64
      # Microsoft's dialect: clang-cl (clang-tools), llvm-lib and llvm-objdump
      # (llvm), Wine's Windows headers and libc++'s headers.
      clang-tools llvm libwine-dev libc++-dev
      # The web build and the browsers that the web end-to-end tests drive:
      # Chromium (chromedriver), Firefox (WebDriver BiDi, through
      # puppeteer-core) and WebKitGTK's MiniBrowser (WebKitWebDriver), which
      # draws with Mesa's OpenGL drivers on Xvfb.
      emscripten chromium chromium-driver python3-selenium firefox-esr webkit2gtk-driver
      libgl1-mesa-dri
      # A reparenting window manager and its command-line client.
      openbox wmctrl
      # The render tool's test sees it sync its file before the rename.
      strace
      # A processor-bound load beside the suite: it must pass under load too.
      stress
      # The AppKit display against GNUstep's AppKit (-DOSTREVANE_APPKIT=ON),
      # and .icns icons for the macOS bundle.
      libgnustep-gui-dev gnustep-back0.29 gnustep-make gobjc++ icnsutils)
# The Debian package and the Windows zip, and their checks.
package=(dpkg-dev fakeroot file gzip lintian desktop-file-utils appstream man-db
         g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 python3 xvfb xauth)

# Sanitizers and fuzzers (clang), memcheck, and the X tools of the hostile tests.
harden=(clang libclang-rt-14-dev valgrind xvfb xauth xdotool x11-utils python3
        weston sway grim wtype libdecor-0-plugin-1-cairo
        libgnustep-gui-dev gnustep-back0.29 gnustep-make gobjc++)

# The web version (scripts/web.sh): Emscripten, none of the native
# libraries; the render tool, built for Node.js to draw the page's icons,
# takes the stb PNG encoder.
web=(cmake make emscripten libstb-dev)

# The ARM cross builds (arm64, armhf), their packages and their tests under
# emulation: Debian's cross compiler for the architecture's GNU triplet, its
# libraries beside the host's (multiarch), and qemu-user to run its programs
# here.
declare -A cross_triplet=([arm64]=aarch64-linux-gnu [armhf]=arm-linux-gnueabihf)
cross_libs=(libx11-dev libxrandr-dev libxext-dev libxdamage-dev libpng-dev zlib1g-dev
            libwayland-dev libxkbcommon-dev libdecor-0-dev libdecor-0-plugin-1-cairo
            libstdc++6 libx11-xcb-dev libxcb-randr0-dev)
cross() {
    local arch=$1 triplet=${cross_triplet[$1]}
    echo "g++-$triplet" "binutils-$triplet" qemu-user "${cross_libs[@]/%/:$arch}"
}

# The same libraries in a folder of their own, build/sysroot-<arch>, made by
# mmdebstrap from the archive's packages of that architecture (nothing is
# installed on this machine): for when the archive cannot give them beside
# the host's, whose versions they must then match (a package list caught
# in the middle of a mirror's sync, say). dpkg installs them there without
# a chroot, so the folder keeps its own dpkg records, from which the
# package's Depends are read (packaging/sysroot_shlibdeps.sh). Made once; a
# partial one is made again.
sysroot_arch=""
make_sysroot() {
    local arch=$1 root=build/sysroot-$1
    [ ! -f "$root/.complete" ] || [ ! -s "$root/var/lib/dpkg/status" ] || return 0
    rm -rf "$root" "$root.partial"
    local codename includes mirror=http://deb.debian.org/debian
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    includes=$(IFS=,; echo "${cross_libs[*]},libc6-dev,wayland-protocols")
    mkdir -p build
    # Maintainer scripts run here, on the folder (libc6's asks debconf,
    # which reads its configuration from the folder).
    if ! DEBIAN_FRONTEND=noninteractive timeout 1800 mmdebstrap --quiet --mode=chrootless \
            --variant=custom --architectures="$arch" \
            --setup-hook='mkdir -p "$1/etc" "$1/var/cache/debconf" && cp /etc/debconf.conf "$1/etc/"' \
            --include="$includes" "$codename" "$root.partial" "deb $mirror $codename main" \
            "deb $mirror $codename-updates main"; then
        echo "deps.sh: cannot make the $arch libraries' folder $root (above)" >&2
        return 1
    fi
    # Links that name a file from the root (libz.so -> /lib/...) would name
    # this machine's: they name the folder's own instead.
    local link target
    while IFS= read -r -d '' link; do
        target=$(readlink "$link")
        ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$root.partial$target")" "$link"
    done < <(find "$root.partial" -type l -lname '/*' -print0)
    touch "$root.partial/.complete"
    mv "$root.partial" "$root"
}

case "${1:-}" in
    run) wanted=("${build[@]}" "${run[@]}") ;;
    test) wanted=("${build[@]}" "${testlibs[@]}" "${test[@]}" "${package[@]}") ;;
    harden) wanted=("${build[@]}" "${testlibs[@]}" "${harden[@]}") ;;
    package) wanted=("${build[@]}" "${package[@]}") ;;
    web) wanted=("${web[@]}") ;;
    arm64|armhf) read -r -a cross_packages <<<"$(cross "$1")"
                 wanted=("${build[@]}" "${package[@]}" "${cross_packages[@]}") ;;
    arm64-sysroot|armhf-sysroot)
        sysroot_arch=${1%-sysroot}
        wanted=("${build[@]}" "g++-${cross_triplet[$sysroot_arch]}"
                "binutils-${cross_triplet[$sysroot_arch]}" qemu-user mmdebstrap) ;;
    *) echo "usage: scripts/deps.sh run|test|harden|package|web|arm64|armhf|arm64-sysroot|armhf-sysroot" >&2
       exit 2 ;;
esac
# npm comes with Node.js from some sources; Debian ships it on its own.
if [ "$1" = test ] && ! command -v npm >/dev/null; then
    wanted+=(npm)
fi

# The pinned npm packages in build/npm, unless those versions are there; in
# one install (npm drops the packages an install does not name).
install_npm_packages() {
    local name version
    for name in axe-core puppeteer-core; do
        version=$AXE_CORE_VERSION
        [ "$name" = axe-core ] || version=$PUPPETEER_CORE_VERSION
        if ! grep -qs "\"version\": \"$version\"" "build/npm/node_modules/$name/package.json"; then
            echo "Installing axe-core $AXE_CORE_VERSION, puppeteer-core $PUPPETEER_CORE_VERSION into build/npm"
            mkdir -p build/npm
            PUPPETEER_SKIP_DOWNLOAD=1 timeout 600 npm install --prefix build/npm --no-save \
                --no-audit --no-fund --loglevel=error "axe-core@$AXE_CORE_VERSION" \
                "puppeteer-core@$PUPPETEER_CORE_VERSION"
            return
        fi
    done
}

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    [ "$1" != test ] || install_npm_packages
    [ -z "$sysroot_arch" ] || make_sysroot "$sysroot_arch"
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "deps.sh: need root or sudo to install ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
# A cross build's libraries come from the same archive as the host's: dpkg
# must accept the architecture before apt lists them. An architecture added
# here is taken away again when its packages cannot be installed: left
# behind, every later apt-get update would fetch its lists.
cross_arch="" added_arch=""
[ -z "${cross_triplet[$1]:-}" ] || cross_arch=$1
if [ -n "$cross_arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$cross_arch"; then
    $sudo dpkg --add-architecture "$cross_arch"
    added_arch=$cross_arch
fi
forget_added_arch() {
    local status=$?
    if [ $status -ne 0 ] && [ -n "$added_arch" ] &&
        ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx "$added_arch"; then
        $sudo dpkg --remove-architecture "$added_arch"
    fi
}
trap forget_added_arch EXIT
lock=(-o DPkg::Lock::Timeout=900)
if ! timeout 600 $sudo apt-get "${lock[@]}" update -qq; then
    echo "deps.sh: apt-get update could not fetch every package list (above)" >&2
    exit 1
fi
# A foreign architecture's library must be the same version as the host's;
# apt would rather remove the host's than fail, so nothing is removed here: a
# plan that removes a package is refused.
if [ -n "$cross_arch" ]; then
    if ! plan=$(apt-get -s install --no-install-recommends "${missing[@]}" 2>&1); then
        echo "$plan" | grep -E '^ |^E:' >&2
        echo "deps.sh: the $cross_arch packages cannot be installed beside the host's (above)" >&2
        exit 1
    fi
    if echo "$plan" | grep -q '^Remv '; then
        echo "deps.sh: installing ${missing[*]} would remove host packages; update the host's first" >&2
        exit 1
    fi
fi
timeout 1800 $sudo apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
[ "$1" != test ] || install_npm_packages
[ -z "$sysroot_arch" ] || make_sysroot "$sysroot_arch"
