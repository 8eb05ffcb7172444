#!/usr/bin/env bash
# Builds static liblzma, libarchive (only what reading 7z needs), pugixml and nettle (its
# digests, without the public-key part) for Windows from
# Debian's source packages, and points PREFIX at the header-only Boost and nlohmann-json, once:
# a second call finds them in PREFIX and does nothing.
#   cmake/windows_deps.sh PREFIX
set -euo pipefail
PREFIX=$(mkdir -p "$1" && cd "$1" && pwd)
mkdir -p "$PREFIX/include" "$PREFIX/share/cmake"
# header-only, the same on every platform: Debian's own headers serve
[ -e "$PREFIX/include/boost" ] || ln -s /usr/include/boost "$PREFIX/include/boost"
[ -e "$PREFIX/include/nlohmann" ] || ln -s /usr/include/nlohmann "$PREFIX/include/nlohmann"
# its package files find the headers relative to themselves, so a copy finds PREFIX's
[ -d "$PREFIX/share/cmake/nlohmann_json" ] ||
    cp -r /usr/share/cmake/nlohmann_json "$PREFIX/share/cmake/"
[ -f "$PREFIX/lib/libarchive.a" ] && [ -f "$PREFIX/lib/liblzma.a" ] &&
    [ -f "$PREFIX/lib/libpugixml.a" ] && [ -f "$PREFIX/lib/libnettle.a" ] && exit 0
TOOLCHAIN=$(cd "$(dirname "$0")" && pwd)/mingw-w64.cmake
WORK=$PREFIX/../deps-build
JOBS=$(nproc 2>/dev/null || echo 2)
mkdir -p "$WORK" && cd "$WORK"
ls -d xz-utils-*/ > /dev/null 2>&1 || apt-get source -qq xz-utils
ls -d libarchive-*/ > /dev/null 2>&1 || apt-get source -qq libarchive
ls -d pugixml-*/ > /dev/null 2>&1 || apt-get source -qq pugixml
ls -d nettle-*/ > /dev/null 2>&1 || apt-get source -qq nettle
common=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_INSTALL_PREFIX="$PREFIX" -DMESH_CARVER_WINDOWS_DEPS="$PREFIX"
        -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF)

if [ ! -f "$PREFIX/lib/libpugixml.a" ]; then
    cmake -S pugixml-*/ -B pugixml "${common[@]}" -DPUGIXML_BUILD_TESTS=OFF > pugixml.log
    cmake --build pugixml -j "$JOBS" >> pugixml.log
    cmake --install pugixml >> pugixml.log
fi
if [ ! -f "$PREFIX/lib/libnettle.a" ]; then
    (cd nettle-*/ && ./configure --host=x86_64-w64-mingw32 --prefix="$PREFIX" --disable-shared \
        --disable-public-key --disable-assembler --disable-documentation --disable-openssl \
        > ../nettle.log 2>&1 &&
        make -j "$JOBS" libnettle.a >> ../nettle.log 2>&1 && make install-headers >> ../nettle.log &&
        mkdir -p "$PREFIX/lib" && cp libnettle.a "$PREFIX/lib/")
fi
[ -f "$PREFIX/lib/libarchive.a" ] && [ -f "$PREFIX/lib/liblzma.a" ] && exit 0

cmake -S xz-utils-*/ -B xz "${common[@]}" > xz.log
cmake --build xz --target liblzma -j "$JOBS" >> xz.log
cmake --install xz --component liblzma_Development >> xz.log

off=()
for option in ZLIB BZip2 ZSTD LZ4 LZO LIBB2 OPENSSL MBEDTLS NETTLE LIBXML2 EXPAT PCREPOSIX \
              LIBGCC ACL XATTR ICONV TAR CPIO CAT TEST WERROR CNG; do
    off+=("-DENABLE_$option=OFF")
done
cmake -S libarchive-*/ -B libarchive "${common[@]}" -DCMAKE_C_FLAGS=-DLZMA_API_STATIC \
    -DCMAKE_PREFIX_PATH="$PREFIX" -DENABLE_LZMA=ON "${off[@]}" -DPOSIX_REGEX_LIB=NONE \
    > libarchive.log
cmake --build libarchive --target archive_static -j "$JOBS" >> libarchive.log
# installed under the plain name, so that find_package and -larchive take the static library
mkdir -p "$PREFIX/lib"
cp libarchive/libarchive/libarchive_static.a "$PREFIX/lib/libarchive.a"
cp libarchive-*/libarchive/archive.h libarchive-*/libarchive/archive_entry.h "$PREFIX/include/"
