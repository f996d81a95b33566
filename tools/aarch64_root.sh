#!/usr/bin/env bash
# An arm64 Debian root of the build machine's own release: the target's headers
# and libraries to cross-build against (cctz, simdjson, GoogleTest, Python's
# development files) and Python with tzdata to run the tests on under
# qemu-user-static (tests/aarch64.sh).
#
#   tools/aarch64_root.sh DIR     makes DIR, or keeps it when it was made for the same release and packages
#
# Needs root and debootstrap. binfmt_misc is not assumed, so debootstrap's
# second stage (which runs arm64 programs) never runs: its first stage only
# downloads, and every downloaded package is unpacked with dpkg-deb. No
# maintainer script runs, which a root that is only read from does not need.
set -euo pipefail
[ $# -eq 1 ] || { sed -n '7p' "$0" >&2; exit 2; }
DIR=$1

. /etc/os-release
SUITE=${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}
# The mirror the machine's apt uses for its release; Debian's own otherwise.
MIRROR=$(apt-get indextargets --format '$(CODENAME) $(SITE)' 2>/dev/null |
         awk -v s="$SUITE" '$1 == s { print $2; exit }')
MIRROR=${MIRROR:-http://deb.debian.org/debian}
# Whichever package gives this machine the backward-compatible zone names
# (tzdata, or tzdata-legacy on newer releases) gives them to the root too.
ZONES=$(dpkg -S /usr/share/zoneinfo/US/Eastern 2>/dev/null | cut -d: -f1 || true)
[ "$ZONES" != tzdata ] || ZONES=
# Unversioned names: the release's default Python and libraries come with them.
PACKAGES=python3,python3-venv,libpython3-dev,tzdata${ZONES:+,$ZONES},libcctz-dev,libsimdjson-dev,libgtest-dev
# A root is kept until the machine's own packages change (a point release),
# so that the two wheels' libraries do not drift apart.
STAMP="arm64 $SUITE $MIRROR $PACKAGES $(dpkg-query -W -f '${Package}=${Version} ' libc6 libcctz-dev libsimdjson-dev python3 2>/dev/null || true)"

if [ -f "$DIR/.tessel-root" ] && [ "$(cat "$DIR/.tessel-root")" = "$STAMP" ]; then
    echo "== arm64 root: $DIR ($SUITE, kept)"
    exit 0
fi
echo "== arm64 root: debootstrap $SUITE from $MIRROR into $DIR"
rm -rf "$DIR" "$DIR.new"
mkdir -p "$(dirname "$DIR")"
log=$(dirname "$DIR")/debootstrap.log
debootstrap --arch=arm64 --variant=minbase --foreign --include="$PACKAGES" "$SUITE" "$DIR.new" "$MIRROR" >"$log" 2>&1 ||
    { tail -n 20 "$log" >&2; echo "aarch64_root: debootstrap failed (log: $log)" >&2; exit 1; }
# The first stage unpacked only the essential packages; unpack everything it
# fetched. The merged-/usr links (/lib -> usr/lib) must stay links.
for deb in "$DIR.new"/var/cache/apt/archives/*.deb; do
    dpkg-deb --fsys-tarfile "$deb" | tar -x --keep-directory-symlink -C "$DIR.new"
done
# Inside a container debootstrap links /proc and /dev/fd to the machine's own:
# a walk of the source tree (the sdist's follows links) would leave the
# repository through them. qemu finds the machine's /proc without them.
find "$DIR.new" -xdev -type l -lname '/*' | while read -r link; do
    if [ -d "$link" ]; then rm "$link"; fi
done
mkdir -p "$DIR.new/proc"
# What is in it, for the record; the packages themselves are not kept.
for deb in "$DIR.new"/var/cache/apt/archives/*.deb; do
    dpkg-deb --show --showformat='${Package} ${Version}\n' "$deb"
done | sort >"$DIR.new/.tessel-packages"
rm -f "$DIR.new"/var/cache/apt/archives/*.deb
echo "$STAMP" >"$DIR.new/.tessel-root"
mv "$DIR.new" "$DIR"
echo "   $(du -sh "$DIR" | cut -f1): $(grep -E '^(libc6|python3\.[0-9]+) ' "$DIR/.tessel-packages" | paste -sd ',')"
