#!/usr/bin/env bash
# Fetches and unpacks the Debian source package PACKAGE of this machine's
# release into DESTDIR, and prints the path of the unpacked tree:
#   scripts/fetch-source.sh PACKAGE DESTDIR
# For building a library from the distribution's own sources where the
# distribution ships no binary for the target (a cross build). The machine's
# apt configuration is left alone: a sources list of its own, with a deb-src
# line for the archive the machine already uses, and package lists of its own
# under DESTDIR. A tree fetched once is reused. Needs dpkg-source (dpkg-dev).
set -eu

if [ $# -ne 2 ]; then
    echo "usage: fetch-source.sh PACKAGE DESTDIR" >&2
    exit 2
fi
package=$1
mkdir -p "$2"
dest=$(cd "$2" && pwd)

existing() { find "$dest" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | sort | tail -1; }
tree=$(existing)
if [ -n "$tree" ]; then
    echo "$tree"
    exit 0
fi

if ! command -v dpkg-source >/dev/null; then
    echo "fetch-source.sh: dpkg-source is missing; run scripts/install-deps.sh" >&2
    exit 1
fi

# The release and the archive: the codename from os-release, the first
# Debian archive of the machine's sources (deb822 or one-line form).
. /etc/os-release
suite=${VERSION_CODENAME:?fetch-source.sh: no release codename in /etc/os-release}
mirror=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
    grep -v '^[[:space:]]*#' | grep -Eo '(https?|file)://[^ ]*/debian/?( |$)' | grep -v security | head -1 | tr -d ' ')
mirror=${mirror:-http://deb.debian.org/debian}

state="$dest/.apt"
mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
echo "deb-src $mirror $suite main" >"$state/sources.list"
apt_options=(
    -o "Dir::Etc::SourceList=$state/sources.list"
    -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$state/lists"
    -o "Dir::Cache=$state/cache"
    -o APT::Sandbox::User=root
)
apt-get "${apt_options[@]}" update -q >&2
(cd "$dest" && apt-get "${apt_options[@]}" source -q "$package" >&2)

tree=$(existing)
if [ -z "$tree" ]; then
    echo "fetch-source.sh: apt-get source $package unpacked nothing into $dest" >&2
    exit 1
fi
echo "$tree"
