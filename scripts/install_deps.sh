#!/usr/bin/env bash
# Installs what building and testing mesh_carver needs, when it is missing, on Debian or
# Ubuntu: as root, or through sudo; otherwise prints the one apt-get line to run and stops.
#   scripts/install_deps.sh build     compiler, CMake, libarchive, Boost, nlohmann-json, pugixml,
#                                     nettle
#   scripts/install_deps.sh test      the same, plus GoogleTest, Blender, Chromium, bsdtar and Python (tests)
#   scripts/install_deps.sh windows   the same, plus MinGW-w64, Wine and Debian's source packages
set -euo pipefail
what=${1:-test}

need=()
has() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
want() { for p in "$@"; do has "$p" || need+=("$p"); done; }

want cmake g++ make pkg-config libarchive-dev libboost-dev nlohmann-json3-dev libpugixml-dev \
    nettle-dev
[ "$what" = build ] || want libgtest-dev blender chromium libarchive-tools python3
[ "$what" = windows ] && want g++-mingw-w64-x86-64-posix wine dpkg-dev

# the Windows build takes libarchive and liblzma from Debian's source packages
sources=/etc/apt/sources.list.d/mesh-carver-sources.sources
need_sources=0
if [ "$what" = windows ] && ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ &&
   ! grep -qs '^deb-src' /etc/apt/sources.list; then
    need_sources=1
fi

[ ${#need[@]} -eq 0 ] && [ $need_sources -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo > /dev/null && sudo -n true 2> /dev/null; then
    as_root=(sudo)
else
    echo "mesh_carver needs: sudo apt-get install ${need[*]}" >&2
    [ $need_sources -eq 1 ] && echo "and a deb-src entry for Debian's archive (see $0)" >&2
    exit 1
fi

if [ $need_sources -eq 1 ]; then
    # the deb entry of the system's own list, as deb-src
    "${as_root[@]}" sh -c "sed -n '/^Types:/,/^\$/p' /etc/apt/sources.list.d/debian.sources |
        sed 's/^Types:.*/Types: deb-src/' > $sources"
fi
"${as_root[@]}" apt-get update -qq
if [ ${#need[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq \
        "${need[@]}" > /dev/null
fi
