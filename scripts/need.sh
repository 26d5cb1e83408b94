# shellcheck shell=bash
# Sourced by the check scripts. `need COMMAND PACKAGE` stops the script at
# once, with one line naming the Debian package, where COMMAND is missing:
# better than a raw error from deep inside a build.
need() {
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "${0##*/}: needs $1, from Debian's $2: apt-get install $2" >&2
    exit 1
  fi
}
