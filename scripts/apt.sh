# Sourced by the scripts that set up what they need from Debian (as root, or through sudo).
#   apt_install PACKAGE...          installs the packages named, if any
#   apt_install_missing PACKAGE...  installs those of them dpkg does not have installed yet

apt_install() {
  [ $# -gt 0 ] || return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}

apt_install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  apt_install "${missing[@]}"
}
