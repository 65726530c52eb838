# Shared by scripts/run and scripts/test: installs missing packages and builds.
# Sourced, not executed.

CORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

corvel_install_deps() {
    local missing=()
    local pkg
    while read -r pkg; do
        pkg="${pkg%%#*}"
        pkg="${pkg//[[:space:]]/}"
        [ -n "$pkg" ] || continue
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done <"$CORVEL_ROOT/scripts/deps.txt"
    [ ${#missing[@]} -eq 0 ] && return 0
    corvel_apt_install "${missing[@]}"
}

# corvel_apt_install PACKAGE...
corvel_apt_install() {
    echo "Installing: $*"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "Missing packages ($*) and no root rights to install them." >&2
            return 1
        fi
    fi
    export DEBIAN_FRONTEND=noninteractive
    # A fresh machine has empty package lists; try the cached ones first to save time.
    if ! "${sudo[@]}" apt-get install -y --no-install-recommends "$@"; then
        "${sudo[@]}" apt-get update
        "${sudo[@]}" apt-get install -y --no-install-recommends "$@"
    fi
}

# corvel_build DIR [extra cmake args...]
corvel_build() {
    local dir="$1"
    shift
    cmake -S "$CORVEL_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}
