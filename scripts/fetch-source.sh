#!/usr/bin/env bash
# Unpacks the source of Debian's source package PACKAGE into DESTDIR:
#   scripts/fetch-source.sh PACKAGE DESTDIR
# The version is the one installed on this machine (of any binary package
# built from PACKAGE), so what is compiled from it matches what the native
# build links; with nothing of it installed, the archive's current one.
# The source comes from this machine's own Debian archive through a private
# sources list and private lists and caches: the machine's apt configuration
# and state stay as they are. DESTDIR is left alone when it already holds
# that version.
set -eu

if [ $# -ne 2 ]; then
    echo "USAGE: scripts/fetch-source.sh PACKAGE DESTDIR" >&2
    exit 2
fi
package=$1
dest=$2

version=$(dpkg-query -W -f='${source:Package} ${source:Version}\n' 2>/dev/null |
    awk -v p="$package" '$1 == p { print $2; exit }')
wanted="$package${version:+=$version}"
if [ -f "$dest/.fetched-source" ] && [ "$(cat "$dest/.fetched-source")" = "$wanted" ]; then
    exit 0
fi

run() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
if ! command -v dpkg-source >/dev/null; then
    run apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=900 dpkg-dev
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A deb-src line for every Debian archive this machine installs from: the
# deb822 stanzas of sources.list.d and the one-line entries of sources.list.
{
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && uris ~ /debian/) {
                    n = split(uris, u, " ")
                    m = split(suites, s, " ")
                    for (i = 1; i <= n; i++)
                        for (j = 1; j <= m; j++)
                            printf "deb-src%s %s %s %s\n", (key ? " [signed-by=" key "]" : ""), u[i], s[j], comps
                }
                types = uris = suites = comps = key = ""
            }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            { k = $1; sub(/:$/, "", k); $1 = ""; sub(/^ /, "") }
            k == "Types" { types = $0 }
            k == "URIs" { uris = $0 }
            k == "Suites" { suites = $0 }
            k == "Components" { comps = $0 }
            k == "Signed-By" { key = $0 }
            END { flush() }
        ' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        grep -E '^[[:space:]]*deb[[:space:]]' "$f" | grep debian | sed -E 's/^[[:space:]]*deb[[:space:]]/deb-src /' || true
    done
} | sort -u >"$work/sources.list"
if [ ! -s "$work/sources.list" ]; then
    echo "fetch-source.sh: no Debian archive in /etc/apt/sources.list*" >&2
    exit 1
fi

# Tries to get what (PACKAGE or PACKAGE=VERSION) from each archive in turn:
# a mirror may list a version whose files it does not serve (a security
# archive behind a proxy).
fetch() {
    local what=$1 line
    while read -r line; do
        echo "$line" >"$work/one.list"
        rm -rf "$work/lists" "$work/cache" "$work/get"
        mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/get"
        apt_private=(-o Dir::Etc::SourceList="$work/one.list" -o Dir::Etc::SourceParts=/dev/null
            -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
        if apt-get "${apt_private[@]}" update -q >>"$work/log" 2>&1 &&
            (cd "$work/get" && apt-get "${apt_private[@]}" source -q "$what" >>"$work/log" 2>&1); then
            return 0
        fi
    done <"$work/sources.list"
    return 1
}

if ! fetch "$wanted"; then
    # The same upstream source with another Debian revision, when no archive
    # serves the installed one; said, since the revision's own patches differ.
    upstream=${version#*:}
    upstream=${upstream%-*}
    if [ -z "$version" ] || ! fetch "$package" ||
        [ -z "$(find "$work/get" -mindepth 1 -maxdepth 1 -type d -name "*-$upstream")" ]; then
        cat "$work/log" >&2
        echo "fetch-source.sh: no archive of /etc/apt/sources.list* serves $wanted" >&2
        exit 1
    fi
    echo "fetch-source.sh: no archive serves $wanted; took $(basename "$(ls "$work"/get/*.dsc)")," \
        "the same upstream version $upstream" >&2
fi
unpacked=$(find "$work/get" -mindepth 1 -maxdepth 1 -type d | head -1)
if [ -z "$unpacked" ]; then
    echo "fetch-source.sh: apt-get source $wanted unpacked nothing" >&2
    exit 1
fi
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
mv "$unpacked" "$dest"
echo "$wanted" >"$dest/.fetched-source"
