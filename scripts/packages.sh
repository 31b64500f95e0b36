# Sourced by run.sh and test.sh: installs the Debian packages named in its
# arguments that are not installed yet, through apt-get (as root, or with
# sudo). Prints nothing when everything is there already.
need_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || {
            echo "pixremap: missing packages (${missing[*]}); run this as root or install sudo" >&2
            return 1
        }
        as_root=(sudo)
    fi
    echo "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${as_root[@]}" apt-get update -qq &&
        "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What building the tool needs.
build_packages=(cmake make g++ pkg-config libstb-dev libseccomp-dev libdeflate-dev)
# What the tests need besides.
test_packages=(googletest libgtest-dev libpng-dev libbenchmark-dev dpkg-dev file groff-base time bc python3-pil
               parallel rsync)
