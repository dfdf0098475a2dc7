# Shared by scripts/test and scripts/demo: install what is missing, then configure and build.

DEDEZI_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
DEDEZI_PACKAGES=(cmake make g++ python3 python3-dev libboost-python1.74-dev libboost-date-time1.74-dev
                 libgtest-dev libgmock-dev python3-pytest python3-pytest-timeout tzdata)

# apt-get runs only when a package is missing.
ensure_packages() {
    local missing=()
    for p in "${DEDEZI_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# build_tree DIR [cmake options...]
build_tree() {
    local dir=$1; shift
    cmake -S "$DEDEZI_ROOT" -B "$dir" -DPython3_EXECUTABLE=/usr/bin/python3 "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
