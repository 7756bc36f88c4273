# Shared by the scripts: installs missing Debian packages and builds the project.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Packages the build, the tests and the demo need on a fresh Debian 12 machine.
# What building the program needs, and nothing more: an operator's install.
BUILD_PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libgl-dev libxcb1-dev)

# What the tests need besides.
PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    libxcb1-dev
    xvfb xauth openbox x11-utils xdotool
    socat python3 python3-serial
    libhamlib-utils direwolf
    iproute2 nftables
)

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -o DPkg::Lock::Timeout=300 -qq
    "${sudo[@]}" apt-get install -y -qq -o DPkg::Lock::Timeout=300 "${missing[@]}"
}

build_project() {
    local dir="${1:-$ROOT/build}"
    shift || true
    cmake -S "$ROOT" -B "$dir" -DBUILD_TESTING=ON "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
