#!/usr/bin/env bash
# The add-on's checks in a 4.x Blender: Debian 13's Blender, in a Debian 13 root made with
# debootstrap beside this Debian 12 system, kept between runs (made again when it is missing or
# damaged). The tool's Linux build runs there with Debian 13's libraries. Blender's own output
# goes to BUILD/blender4.log; this prints one line a check. Needs root (chroot, mount).
#   tests/blender4/run.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")/../.." && pwd)
ROOT=${BLENDER4_ROOT:-/var/cache/mesh_carver/trixie}
LOG=$BUILD/blender4.log
MIRROR=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
PACKAGES="blender libarchive13t64 libpugixml1v5 libnettle8t64"
: > "$LOG"

healthy() {
    [ -f "$ROOT/.mesh_carver_ready" ] && chroot "$ROOT" blender --version >> "$LOG" 2>&1
}

if ! healthy; then
    start=$(date +%s)
    echo "making the Debian 13 root with Blender in $ROOT (once; kept for later runs)"
    command -v debootstrap > /dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y debootstrap >> "$LOG" 2>&1
    rm -rf "$ROOT" && mkdir -p "$(dirname "$ROOT")"
    debootstrap --variant=minbase trixie "$ROOT" "$MIRROR" >> "$LOG" 2>&1
    chroot "$ROOT" apt-get update >> "$LOG" 2>&1
    chroot "$ROOT" env DEBIAN_FRONTEND=noninteractive apt-get install -y \
        --no-install-recommends $PACKAGES >> "$LOG" 2>&1
    chroot "$ROOT" apt-get clean
    touch "$ROOT/.mesh_carver_ready"
    healthy || { echo "the Debian 13 root has no working Blender: see $LOG"; exit 1; }
    echo "the Debian 13 root made in $(( $(date +%s) - start )) s"
fi

# the tool, the add-on and the samples inside the root; /proc and /dev for Blender and the tool
WORK=$ROOT/tmp/mesh_carver
rm -rf "$WORK" && mkdir -p "$WORK/tests" "$WORK/run" "$WORK/home"
# the add-on of this build's version (an older build may have left its own zip beside it)
zip=mesh_carver-$("$BUILD/mesh_carver" --version | awk '{print $2}')-blender-addon.zip
cp "$BUILD/mesh_carver" "$BUILD/$zip" "$WORK/"
cp "$HERE/tests/blender_addon_check.py" "$WORK/tests/"
cp -r "$HERE/tests/data" "$WORK/tests/"
mounted=()
cleanup() {
    for point in "${mounted[@]}"; do umount "$point" 2> /dev/null || true; done
}
trap cleanup EXIT
for point in proc dev; do
    if ! mountpoint -q "$ROOT/$point"; then
        if [ $point = proc ]; then mount -t proc proc "$ROOT/proc"; else mount --bind /dev "$ROOT/dev"; fi
        mounted+=("$ROOT/$point")
    fi
done

inside=/tmp/mesh_carver
tile="$inside/tests/data/textured/pack/Earth nav data/+40+000/+45+007.dsf"
printf '[mesh_carver]\nlat_min=45.41\nlat_max=45.59\nlong_min=7.41\nlong_max=7.59\ninput_file=%s\noutput_file=out.obj\nnb_max_vertex=99999\nnb_max_tris=99999\n' \
    "$tile" > "$WORK/run/mesh_carver.ini"
origin=$(chroot "$ROOT" sh -c "cd $inside/run && $inside/mesh_carver" | tr -d '\r' | tail -1)
case "$origin" in
    PATCH_VERTEX*) echo "check: the tool runs in the Debian 13 root: ok" ;;
    *) echo "the tool does not run in the Debian 13 root: $origin"; exit 1 ;;
esac
printf "#!/bin/sh\necho 'mesh_carver 1.1.0'\n" > "$WORK/old_tool" && chmod +x "$WORK/old_tool"
status=0
chroot "$ROOT" env HOME="$inside/home" sh -c "cd $inside/run && blender -b --factory-startup \
    -noaudio --python-exit-code 3 --python $inside/tests/blender_addon_check.py -- \
    $inside/$zip $inside/mesh_carver '$tile' $inside/tests/data/textured/xplane '$origin' \
    $inside/old_tool $inside/run/new.dsf" >> "$LOG" 2>&1 || status=$?
grep -E '^(check: |blender add-on check)' "$LOG" || true
if [ $status -ne 0 ]; then
    echo "the add-on's checks in Blender 4 failed (status $status): see $LOG"
    exit 1
fi
