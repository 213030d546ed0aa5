# Sourced by scripts/demo and scripts/test: installing what a fresh Debian
# machine lacks, as root, or saying what to install otherwise.

is_root() { [ "$(id -u)" -eq 0 ]; }
have_debian() { command -v apt-get >/dev/null && command -v dpkg >/dev/null; }

apt_updated=
apt_install() {
  [ -n "$apt_updated" ] || { apt-get update -qq && apt_updated=1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# The packages of the build tools that are missing.
missing_build_tools() {
  local missing=()
  command -v cmake >/dev/null || missing+=(cmake)
  command -v g++ >/dev/null || missing+=(g++)
  command -v make >/dev/null || missing+=(make)
  # The header-only JSON library of the check's --format=json.
  [ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
  echo "${missing[@]}"
}

# Installs the packages named, if any; exits where they can't be installed.
install_or_exit() {
  [ $# -gt 0 ] || return 0
  if is_root && have_debian; then
    echo "== Installing $*"
    apt_install "$@" || exit 1
  else
    echo "Please install these packages first: $*" >&2
    exit 1
  fi
}
