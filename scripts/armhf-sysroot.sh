#!/usr/bin/env bash
# Makes the armhf root the cross build compiles against and the emulator runs
# the launcher in: Debian's own armhf Qt 5, OpenSSL, zlib and GoogleTest with
# everything they depend on, unpacked into DIR (build-armhf-sysroot/ unless
# given):
#   scripts/armhf-sysroot.sh [DIR]
# The packages come from this machine's own Debian archives, resolved by
# apt-get for armhf alone with private lists, caches and an empty package
# state: the machine's apt configuration and its installed packages stay as
# they are, and the armhf set is consistent whatever versions the machine
# itself runs (multiarch would have to match them one for one). Needs no
# root. Run again, it unpacks afresh only when the set of packages changed.
set -eu

dir=$(realpath -m "${1:-build-armhf-sysroot}")
packages=(qtbase5-dev libqt5network5 libssl-dev zlib1g-dev libgtest-dev qt5-image-formats-plugins)
triplet=arm-linux-gnueabihf

for tool in apt-get dpkg-deb; do
    if ! command -v "$tool" >/dev/null; then
        echo "armhf-sysroot.sh: $tool is missing (Debian's apt and dpkg)" >&2
        exit 1
    fi
done

state="$dir.apt"
mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
: >"$state/status"
apt_armhf=(-o APT::Architecture=armhf -o APT::Architectures::=armhf
    -o Dir::State::status="$state/status" -o Dir::State::extended_states="$state/extended_states"
    -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache" -o Debug::NoLocking=1)

# A mirror in the middle of a sync fails an index or two: what the lists that
# did arrive hold is consistent within itself, and the resolution below says
# plainly when a package cannot be had.
if ! apt-get "${apt_armhf[@]}" update -q >"$state/update.log" 2>&1; then
    grep -E '^(E|W):' "$state/update.log" >&2 || true
    echo "armhf-sysroot.sh: some armhf indexes failed; resolving with those that arrived" >&2
fi
apt-get "${apt_armhf[@]}" install -y -q -d --no-install-recommends "${packages[@]}" >"$state/install.log" 2>&1 || {
    cat "$state/install.log" >&2
    echo "armhf-sysroot.sh: could not get the armhf packages" >&2
    exit 1
}
# The packages of this resolution, by name and version: the cache may still
# hold older ones.
apt-get "${apt_armhf[@]}" install -s -q --no-install-recommends "${packages[@]}" |
    awk '$1 == "Inst" { v = $3; sub(/^\(/, "", v); print $2, v }' | sort >"$state/debs"
if [ -f "$dir/.packages" ] && cmp -s "$state/debs" "$dir/.packages"; then
    exit 0
fi

rm -rf "$dir"
mkdir -p "$dir"
while read -r name version; do
    deb=$(ls "$state/cache/archives/${name}_${version/:/%3a}_"*.deb 2>/dev/null | head -1)
    if [ -z "$deb" ]; then
        echo "armhf-sysroot.sh: no package file for $name $version in $state/cache" >&2
        exit 1
    fi
    dpkg-deb -x "$deb" "$dir"
done <"$state/debs"

# Links that name an absolute path mean a path inside this root.
find "$dir" -type l -lname '/*' | while read -r link; do
    ln -sfn --relative "$dir$(readlink "$link")" "$link"
done
# The Qt tools run on the build machine: its own moc, rcc and uic
# (qtbase5-dev-tools) stand where the armhf Qt 5 package names them.
for tool in "$dir"/usr/lib/qt5/bin/*; do
    host_tool=/usr/lib/qt5/bin/$(basename "$tool")
    if [ -x "$host_tool" ]; then
        ln -sfn "$host_tool" "$tool"
    fi
done
cp "$state/debs" "$dir/.packages"
echo "armhf-sysroot.sh: $(wc -l <"$dir/.packages") armhf packages in $dir"
