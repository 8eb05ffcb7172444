#!/usr/bin/env bash
# Times mesh_carver against the floor of reading the file (grep -c) and an awk selection pass,
# on one generated tile, in one run; then the same tile as a binary DSF (plain and 7z) against
# its text form and against unpacking alone. Usage: bench/run_bench.sh [BUILD_DIR] [SIZE_MIB] [RUNS]
# With BIG_MIB set (e.g. BIG_MIB=4096) it also measures the small-window peak memory on a tile
# of that size; with ONLY_BINARY=1 it measures the binary forms only, with ONLY_PUT_BACK=1 the
# put-back only (python3 raises the cut's inside for it), with ONLY_CACHE=1 the cached 7z runs,
# with ONLY_AREA=1 the cuts along a 10,000-corner area, with ONLY_OUTLINE=1 the put-back along
# it, with ONLY_FLATTEN=1 the flattening along it, with ONLY_FLOORS=1 each path against its
# floor (one line a ratio). The 7z form needs 7zz (Debian 7zip) and bsdtar (libarchive-tools). The whole-tile runs of the binary forms take turns
# (WHOLE_RUNS rounds, default 5), so that the machine's slower and faster spells fall on all.
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
SIZE_MIB=${2:-1024}
RUNS=${3:-5}
WORK=${BENCH_WORK:-/tmp/mesh_carver_bench}
HERE=$(cd "$(dirname "$0")" && pwd)
TOOL=$BUILD/mesh_carver
mkdir -p "$WORK"

tile() {  # tile SIZE_MIB -> path, generated once per size (seed 42)
    local path=$WORK/tile_${1}m.txt
    [ -s "$path" ] || "$BUILD/make_tile" $(( $1 * 1048576 )) 42 > "$path"
    echo "$path"
}

ini() {  # ini DIR TILE LAT_MIN LAT_MAX LONG_MIN LONG_MAX OUTPUT
    mkdir -p "$1"
    printf '[mesh_carver]\nlat_min=%s\nlat_max=%s\nlong_min=%s\nlong_max=%s\ninput_file=%s\noutput_file=%s\nnb_max_vertex=100000000\nnb_max_tris=300000000\n' \
        "$3" "$4" "$5" "$6" "$2" "$7" > "$1/mesh_carver.ini"
}

seconds() { date +%s.%N; }

median() {  # median of the numbers on stdin
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

timeRuns() {  # timeRuns N COMMAND... -> median wall seconds
    local n=$1; shift
    for _ in $(seq "$n"); do
        local start; start=$(seconds)
        "$@" > "$WORK/stdout.txt"  # not /dev/null: grep stops at the first match there
        echo "$(seconds) - $start" | bc
    done | median
}

interleaved() {  # interleaved N DIR... -> the median wall seconds of each DIR's run, in order;
    # the runs take turns, so that the machine's slower and faster spells fall on all of them
    local n=$1; shift
    local all=""
    for _ in $(seq "$n"); do
        for dir in "$@"; do
            local start; start=$(seconds)
            (cd "$dir" && "$TOOL" > "$WORK/stdout.txt")
            all="$all$dir $(echo "$(seconds) - $start" | bc)"$'\n'
        done
    done
    for dir in "$@"; do
        printf '%s' "$all" | awk -v d="$dir" '$1 == d { print $2 }' | median
    done
}

peakKiB() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }

TILE=$(tile "$SIZE_MIB")
cat "$TILE" > /dev/null  # in the page cache, like every run after the first
SMALL=$WORK/small WHOLE=$WORK/whole
ini "$SMALL" "$TILE" 47.4 47.4225 12.4 12.4225 small.obj
ini "$WHOLE" "$TILE" 46.9 48.1 11.9 13.1 whole.obj

binaryForms() {
    local dsf=$WORK/tile_${SIZE_MIB}m.dsf text=$WORK/tile_${SIZE_MIB}m_dsf.txt packed=$WORK/tile_${SIZE_MIB}m.7z.dsf
    [ -s "$dsf" ] && [ -s "$text" ] || "$BUILD/make_dsf" "$TILE" "$dsf" "$text"
    if [ ! -s "$packed" ]; then
        rm -f "$WORK/packing.7z"
        (cd "$WORK" && 7zz a -t7z -m0=LZMA -mx=5 packing.7z "$(basename "$dsf")" > /dev/null)
        mv "$WORK/packing.7z" "$packed"
    fi
    cat "$dsf" "$text" "$packed" > /dev/null
    for form in text dsf packed; do
        local file=$text
        [ $form = dsf ] && file=$dsf
        [ $form = packed ] && file=$packed
        ini "$WORK/b_small_$form" "$file" 47.4 47.4225 12.4 12.4225 small.obj
        ini "$WORK/b_whole_$form" "$file" 46.9 48.1 11.9 13.1 whole.obj
    done
    # the unpacking itself, every run: no cached copy
    echo "cache_folder=off" >> "$WORK/b_small_packed/mesh_carver.ini"
    echo "cache_folder=off" >> "$WORK/b_whole_packed/mesh_carver.ini"
    local textSmall dsfSmall packedSmall unpack textWhole dsfWhole
    textSmall=$(cd "$WORK/b_small_text" && timeRuns "$RUNS" "$TOOL")
    dsfSmall=$(cd "$WORK/b_small_dsf" && timeRuns "$RUNS" "$TOOL")
    packedSmall=$(cd "$WORK/b_small_packed" && timeRuns 3 "$TOOL")
    unpack=$(timeRuns 3 sh -c "bsdtar -xOf '$packed' > /dev/null")
    # the same tile flagged with an elevation raster; with the raster but a real height of the
    # flag's printed length on every vertex; and the Wavefront file on top of the object
    local raster=$WORK/tile_${SIZE_MIB}m_raster.dsf unused=$WORK/tile_${SIZE_MIB}m_raster_unused.dsf
    [ -s "$raster" ] || "$BUILD/make_dsf" --raster "$TILE" "$raster" "$WORK/tile_${SIZE_MIB}m_raster_dsf.txt"
    [ -s "$unused" ] || "$BUILD/make_dsf" --raster-unused "$TILE" "$unused" "$WORK/tile_${SIZE_MIB}m_raster_unused_dsf.txt"
    ini "$WORK/b_whole_raster" "$raster" 46.9 48.1 11.9 13.1 whole.obj
    ini "$WORK/b_whole_unused" "$unused" 46.9 48.1 11.9 13.1 whole.obj
    ini "$WORK/b_whole_wavefront" "$dsf" 46.9 48.1 11.9 13.1 whole.obj
    echo "wavefront_file=whole_blender.obj" >> "$WORK/b_whole_wavefront/mesh_carver.ini"
    # the same with the tile's four library terrains found in a stand-in of the simulator's
    # folder, each a projected texture: every face gets texture coordinates
    local library="$WORK/xplane/Resources/default scenery/bench terrain"
    mkdir -p "$library/terrain10"
    : > "$library/library.txt"
    for name in fst_tmp_wet_hill crop_tmp_sdry_flat grs_tmp_wet_hill urb_tmp_wet_flat; do
        echo "EXPORT lib/g10/terrain10/$name.ter terrain10/$name.ter" >> "$library/library.txt"
        printf 'A\n800\nTERRAIN\n\nBASE_TEX %s.png\nPROJECTED 1000 1000\n' "$name" > "$library/terrain10/$name.ter"
        printf 'PNG' > "$library/terrain10/$name.png"
    done
    ini "$WORK/b_whole_textured" "$dsf" 46.9 48.1 11.9 13.1 whole.obj
    printf 'wavefront_file=whole_blender.obj\nxplane_folder=%s\n' "$WORK/xplane" >> "$WORK/b_whole_textured/mesh_carver.ini"
    local rasterWhole unusedWhole wavefrontWhole texturedWhole whole
    whole=$(interleaved "${WHOLE_RUNS:-5}" "$WORK/b_whole_text" "$WORK/b_whole_dsf" "$WORK/b_whole_raster" \
        "$WORK/b_whole_unused" "$WORK/b_whole_wavefront" "$WORK/b_whole_textured")
    read -r textWhole dsfWhole rasterWhole unusedWhole wavefrontWhole texturedWhole <<< "$(echo $whole)"
    cmp -s "$WORK/b_small_text/small.obj" "$WORK/b_small_dsf/small.obj" || echo "DIFFERENT small objects"
    cmp -s "$WORK/b_whole_text/whole.obj" "$WORK/b_whole_dsf/whole.obj" || echo "DIFFERENT whole objects"
    echo "binary: $(stat -c %s "$dsf") bytes, 7z: $(stat -c %s "$packed") bytes, text form: $(stat -c %s "$text") bytes"
    printf '%-44s %8.3f s\n' "text form, small window" "$textSmall"
    printf '%-44s %8.3f s  %.3f of the text form, peak %s KiB\n' "binary, small window" "$dsfSmall" \
        "$(echo "$dsfSmall / $textSmall" | bc -l)" "$(cd "$WORK/b_small_dsf" && peakKiB "$TOOL")"
    printf '%-44s %8.3f s\n' "bsdtar -xOf of the 7z form (unpacking alone)" "$unpack"
    printf '%-44s %8.3f s  %.2fx unpacking alone, peak %s KiB\n' "7z, small window" "$packedSmall" \
        "$(echo "$packedSmall / $unpack" | bc -l)" "$(cd "$WORK/b_small_packed" && peakKiB "$TOOL")"
    printf '%-44s %8.3f s\n' "text form, whole tile" "$textWhole"
    local dsfPeak
    dsfPeak=$(cd "$WORK/b_whole_dsf" && peakKiB "$TOOL")
    printf '%-44s %8.3f s  %.2fx the text form, peak %s KiB\n' "binary, whole tile" "$dsfWhole" \
        "$(echo "$dsfWhole / $textWhole" | bc -l)" "$dsfPeak"
    local triangles
    triangles=$(sed -n 6p "$WORK/b_whole_dsf/whole.obj" | awk '{ print $5 / 3 }')
    printf '%-44s %s triangles: %.1f bytes of memory each (peak), %.1f bytes of object each\n' \
        "binary, whole tile, per kept triangle" "$triangles" \
        "$(echo "$dsfPeak * 1024 / $triangles" | bc -l)" \
        "$(echo "$(stat -c %s "$WORK/b_whole_dsf/whole.obj") / $triangles" | bc -l)"
    printf '%-44s %8.3f s  %+.1f%% over stored heights, peak %s KiB\n' \
        "binary with elevation raster, whole tile" "$rasterWhole" \
        "$(echo "($rasterWhole / $dsfWhole - 1) * 100" | bc -l)" \
        "$(cd "$WORK/b_whole_raster" && peakKiB "$TOOL")"
    printf '%-44s %8.3f s  %+.1f%% for looking the heights up\n' \
        "the same with real heights, raster unused" "$unusedWhole" \
        "$(echo "($rasterWhole / $unusedWhole - 1) * 100" | bc -l)"
    local wavefrontPeak vertices
    wavefrontPeak=$(cd "$WORK/b_whole_wavefront" && peakKiB "$TOOL")
    vertices=$(sed -n 6p "$WORK/b_whole_dsf/whole.obj" | awk '{ print $2 }')
    printf '%-44s %8.3f s  %+.1f%% over the object alone, peak %s KiB (%.1f bytes/vertex more), %s bytes\n' \
        "binary, whole tile, with wavefront_file" "$wavefrontWhole" \
        "$(echo "($wavefrontWhole / $dsfWhole - 1) * 100" | bc -l)" "$wavefrontPeak" \
        "$(echo "($wavefrontPeak - $dsfPeak) * 1024 / $vertices" | bc -l)" \
        "$(stat -c %s "$WORK/b_whole_wavefront/whole_blender.obj")"
    local texturedPeak
    texturedPeak=$(cd "$WORK/b_whole_textured" && peakKiB "$TOOL")
    printf '%-44s %8.3f s  %+.1f%% over the untextured Wavefront run, peak %s KiB (%.1f bytes/vertex over the object alone), %s bytes\n' \
        "the same, textured (projected, every face)" "$texturedWhole" \
        "$(echo "($texturedWhole / $wavefrontWhole - 1) * 100" | bc -l)" "$texturedPeak" \
        "$(echo "($texturedPeak - $dsfPeak) * 1024 / $vertices" | bc -l)" \
        "$(stat -c %s "$WORK/b_whole_textured/whole_blender.obj")"
    printf '%-44s %8.3f s untextured, %.3f s textured: %+.1f%%\n' \
        "the Wavefront file's own cost (over the object)" "$(echo "$wavefrontWhole - $dsfWhole" | bc -l)" \
        "$(echo "$texturedWhole - $dsfWhole" | bc -l)" \
        "$(echo "(($texturedWhole - $dsfWhole) / ($wavefrontWhole - $dsfWhole) - 1) * 100" | bc -l)"
}

elapsed() {  # elapsed COMMAND... -> wall seconds of one run, in the current folder
    local start; start=$(seconds)
    "$@" > "$WORK/stdout.txt"
    echo "$(seconds) - $start" | bc
}

# The put-back on the binary tile: a small window and the whole tile, each carved with its
# Wavefront file and put back as carved (every corner an original point) and with its inside
# raised 5 m (new points). The small window's runs take turns with cp of the tile and the carve
# of the window, so that the machine's slower and faster spells fall on all of them.
putBackBench() {
    local DIGEST=(md5sum)  # nettle's own digest when nettle-bin is there
    command -v nettle-hash > /dev/null && DIGEST=(nettle-hash -a md5)
    local dsf=$WORK/tile_${SIZE_MIB}m.dsf
    [ -s "$dsf" ] || "$BUILD/make_dsf" "$TILE" "$dsf" "$WORK/tile_${SIZE_MIB}m_dsf.txt"
    cat "$dsf" > /dev/null
    local tileBytes
    tileBytes=$(stat -c %s "$dsf")
    for size in small whole; do
        local dir=$WORK/pb_$size
        local window=(47.4 47.4225 12.4 12.4225)
        [ $size = whole ] && window=(46.9 48.1 11.9 13.1)
        ini "$dir/carve" "$dsf" "${window[@]}" cut_object.obj  # the plain carve, to compare with
        ini "$dir" "$dsf" "${window[@]}" cut_object.obj
        printf 'wavefront_file=cut.obj\n' >> "$dir/mesh_carver.ini"
        (cd "$dir" && "$TOOL" > /dev/null && rm -f cut_object.obj &&
            python3 "$HERE/raise_inside.py" cut.obj raised.obj 5 > /dev/null && cp cut.mtl raised.mtl)
        printf 'output_tile=back.dsf\n' >> "$dir/mesh_carver.ini"
        sed 's/^wavefront_file=.*/wavefront_file=raised.obj/; s/^output_tile=.*/output_tile=raised.dsf/' \
            "$dir/mesh_carver.ini" > "$dir/raised.ini"
        mkdir -p "$dir/raised" && mv "$dir/raised.ini" "$dir/raised/mesh_carver.ini"
        cp "$dir/raised.obj" "$dir/raised.mtl" "$dir/raised/"
        local runs=$RUNS times=""
        [ $size = whole ] && runs=3
        for _ in $(seq "$runs"); do
            local cpTime=0 carveTime=0 digestTime=0 raisedTime
            if [ $size = small ]; then
                cpTime=$(elapsed cp "$dsf" "$WORK/copied.dsf")
                carveTime=$(cd "$dir/carve" && elapsed "$TOOL")
            fi
            raisedTime=$(cd "$dir/raised" && elapsed "$TOOL" put-back)
            # the floor: the library's MD5 over the bytes the put-back wrote (nettle-bin)
            [ $size = small ] && digestTime=$(elapsed "${DIGEST[@]}" "$dir/raised/raised.dsf")
            times="$times$cpTime $carveTime $(cd "$dir" && elapsed "$TOOL" put-back) $raisedTime $digestTime"$'\n'
        done
        rm -f "$WORK/copied.dsf"
        local column medians=()  # cp, carve, put-back as carved, put-back raised, digest
        for column in 1 2 3 4 5; do
            medians+=("$(printf '%s' "$times" | awk -v c=$column '{ print $c }' | median)")
        done
        for edit in cut raised; do
            local where=$dir time=${medians[2]}
            [ $edit = raised ] && where=$dir/raised time=${medians[3]}
            local peak counts
            counts=$(cd "$where" && /usr/bin/time -f '%M' -o "$WORK/peak.txt" "$TOOL" put-back | tail -1 | tr -d '\r')
            peak=$(tail -1 "$WORK/peak.txt")
            printf '%-44s %8.3f s  peak %s KiB (%s)\n' "put-back, $size window, $edit" "$time" "$peak" "$counts"
            if [ $size = small ]; then
                printf '%-44s %8.3f s  cp %.3f s + carve %.3f s: %.2fx\n' "  against cp of the tile and the carve" \
                    "$(echo "${medians[0]} + ${medians[1]}" | bc -l)" "${medians[0]}" "${medians[1]}" \
                    "$(echo "$time / (${medians[0]} + ${medians[1]})" | bc -l)"
                printf '%-44s %8.3f s  carve %.3f s + digest %.3f s: %.2fx\n' "  against the carve and ${DIGEST[0]##*/}" \
                    "$(echo "${medians[1]} + ${medians[4]}" | bc -l)" "${medians[1]}" "${medians[4]}" \
                    "$(echo "$time / (${medians[1]} + ${medians[4]})" | bc -l)"
            fi
            local triangles  # "N triangles out, M triangles in, K new points"
            triangles=$(echo "$counts" | awk '{ print ($4 > 0) ? $4 : 1 }')
            printf '%-44s %.1f MiB over the tile, %.1f bytes per triangle in over tile + 64 MiB\n' "  peak memory" \
                "$(echo "($peak * 1024 - $tileBytes) / 1048576" | bc -l)" \
                "$(echo "($peak * 1024 - $tileBytes - 64 * 1048576) / $triangles" | bc -l)"
        done
        rm -f "$dir/back.dsf" "$dir/raised/raised.dsf"
    done
}

# The cache of unpacked 7z tiles: the first small-window run on the 7z tile (it unpacks and keeps
# the copy), then the second and later ones (they read the copy) taking turns with the plain .dsf
# run of the same window.
cacheBench() {
    local dsf=$WORK/tile_${SIZE_MIB}m.dsf packed=$WORK/tile_${SIZE_MIB}m.7z.dsf
    [ -s "$packed" ] || { echo "cache: run the binary forms first (no $packed)"; return; }
    # the plain tile written in one piece, as the cache writes its copy: a file's pages map
    # faster when they came in one write (0.06 s against 0.11 s for the same bytes copied by cp)
    mkdir -p "$WORK/c_dsf"
    dd if="$dsf" of="$WORK/c_dsf/tile.dsf" bs=256M status=none
    ini "$WORK/c_dsf" "$WORK/c_dsf/tile.dsf" 47.4 47.4225 12.4 12.4225 small.obj
    ini "$WORK/c_packed" "$packed" 47.4 47.4225 12.4 12.4225 small.obj
    echo "cache_folder=$WORK/cache" >> "$WORK/c_packed/mesh_carver.ini"
    rm -rf "$WORK/cache"
    cat "$dsf" "$packed" > /dev/null
    local first times=""
    first=$(cd "$WORK/c_packed" && elapsed "$TOOL")
    for _ in $(seq "$RUNS"); do
        times="$times$(cd "$WORK/c_dsf" && elapsed "$TOOL") $(cd "$WORK/c_packed" && elapsed "$TOOL")"$'\n'
    done
    local plain second
    plain=$(printf '%s' "$times" | awk '{ print $1 }' | median)
    second=$(printf '%s' "$times" | awk '{ print $2 }' | median)
    cmp -s "$WORK/c_dsf/small.obj" "$WORK/c_packed/small.obj" || echo "DIFFERENT cached object"
    printf '%-44s %8.3f s\n' "7z tile, small window, first run (unpacks)" "$first"
    printf '%-44s %8.3f s  plain .dsf %.3f s: %.2fx\n' "7z tile, small window, cached run" \
        "$second" "$plain" "$(echo "$second / $plain" | bc -l)"
    printf '%-44s %s\n' "  the cache" "$(du -sb "$WORK/cache" | cut -f1) bytes"
}

# A wavy ring of CORNERS corners around LON LAT, RADIUS degrees give or take a tenth, as GeoJSON
areaFile() {  # areaFile PATH LON LAT RADIUS CORNERS
    awk -v lon="$2" -v lat="$3" -v r="$4" -v n="$5" 'BEGIN {
        printf "{\"type\": \"Polygon\", \"coordinates\": [["
        for (k = 0; k <= n; ++k) {
            a = 2 * 3.14159265358979 * (k % n) / n; d = r * (1 + 0.1 * sin(37 * a))
            printf "%s[%.9f, %.9f]", (k ? ", " : ""), lon + d * cos(a), lat + d * sin(a)
        }
        print "]]}" }' > "$1"
}

# Cuts along an area of 10,000 corners against the rectangle alone, on the text and the binary
# tile: the whole tile (every corner of the tile tested) and the small window, each also with
# clip=1. The runs take turns.
areaBench() {
    local dsf=$WORK/tile_${SIZE_MIB}m.dsf
    [ -s "$dsf" ] || "$BUILD/make_dsf" "$TILE" "$dsf" "$WORK/tile_${SIZE_MIB}m_dsf.txt"
    areaFile "$WORK/whole_area.geojson" 12.5 47.5 0.4 10000
    areaFile "$WORK/small_area.geojson" 12.41125 47.41125 0.009 10000
    for form in text dsf; do
        local input=$TILE
        [ $form = dsf ] && input=$dsf
        for size in small whole; do
            local window=(47.4 47.4225 12.4 12.4225) dirs=()
            [ $size = whole ] && window=(46.9 48.1 11.9 13.1)
            local runs=$RUNS
            [ $size = whole ] && runs=3
            for cut in rectangle area clipped; do
                local dir=$WORK/area_${form}_${size}_$cut
                ini "$dir" "$input" "${window[@]}" cut.obj
                [ $cut = rectangle ] || echo "area_file=$WORK/${size}_area.geojson" >> "$dir/mesh_carver.ini"
                [ $cut = clipped ] && echo "clip=1" >> "$dir/mesh_carver.ini"
                dirs+=("$dir")
            done
            local times
            mapfile -t times < <(interleaved "$runs" "${dirs[@]}")
            for k in 0 1 2; do
                local what=(rectangle "area of 10,000 corners" "  the same, clip=1")
                printf '%-44s %8.3f s  %.2fx the rectangle (%s triangles)\n' "$form tile, $size window, ${what[$k]}" \
                    "${times[$k]}" "$(echo "${times[$k]} / ${times[0]}" | bc -l)" \
                    "$(grep -m1 '^POINT_COUNTS' "${dirs[$k]}/cut.obj" | awk '{ print $5 / 3 }')"
            done
        done
    done
}

# The put-back along a 10,000-corner area on the binary tile: the cut clipped along it against
# the cut of whole triangles, each with its inside raised 5 m (the runs take turns); then the
# tile's growth when one face in a hundred of the clipped cut changes.
outlineBench() {
    local dsf=$WORK/tile_${SIZE_MIB}m.dsf
    [ -s "$dsf" ] || "$BUILD/make_dsf" "$TILE" "$dsf" "$WORK/tile_${SIZE_MIB}m_dsf.txt"
    areaFile "$WORK/small_area.geojson" 12.41125 47.41125 0.009 10000
    cat "$dsf" > /dev/null
    local dirs=()
    for cut in whole clipped share; do
        local dir=$WORK/outline_$cut
        ini "$dir" "$dsf" 47.4 47.4225 12.4 12.4225 cut_object.obj
        printf 'area_file=%s\nwavefront_file=cut.obj\n' "$WORK/small_area.geojson" >> "$dir/mesh_carver.ini"
        [ $cut = whole ] || echo "clip=1" >> "$dir/mesh_carver.ini"
        local share=""
        [ $cut = share ] && share=0.01
        (cd "$dir" && "$TOOL" > /dev/null &&
            python3 "$HERE/raise_inside.py" cut.obj raised.obj 5 $share > /dev/null && cp cut.mtl raised.mtl)
        sed -i 's/^wavefront_file=.*/wavefront_file=raised.obj/' "$dir/mesh_carver.ini"
        echo "output_tile=back.dsf" >> "$dir/mesh_carver.ini"
        [ $cut = share ] || dirs+=("$dir")
    done
    local times=""
    for _ in $(seq "$RUNS"); do
        for dir in "${dirs[@]}"; do times="$times $(cd "$dir" && elapsed "$TOOL" put-back)"; done
        times="$times"$'\n'
    done
    local whole clipped
    whole=$(printf '%s' "$times" | awk 'NF { print $1 }' | median)
    clipped=$(printf '%s' "$times" | awk 'NF { print $2 }' | median)
    for cut in whole clipped; do
        local time=$whole
        [ $cut = clipped ] && time=$clipped
        printf '%-44s %8.3f s  %s\n' "put-back along the area, $cut cut, raised" "$time" \
            "$(cd "$WORK/outline_$cut" && "$TOOL" put-back | tail -1 | tr -d '\r')"
    done
    printf '%-44s %.2fx the cut of whole triangles\n' "  clipped along the outline" \
        "$(echo "$clipped / $whole" | bc -l)"
    local counts out grown
    counts=$(cd "$WORK/outline_share" && "$TOOL" put-back | tail -1 | tr -d '\r')
    out=$(echo "$counts" | awk '{ print $1 }')
    grown=$(( $(stat -c %s "$WORK/outline_share/back.dsf") - $(stat -c %s "$dsf") ))
    printf '%-44s %s bytes for %s changed triangles: %.1f bytes each past 4 KB (%s)\n' \
        "  tile growth, 1% of the clipped cut edited" "$grown" "$out" \
        "$(echo "($grown - 4096) / $out" | bc -l)" "$counts"
    rm -f "$WORK"/outline_*/back.dsf
}

# The flattening along the same 10,000-corner area (blend 100 m) against the clipped put-back of
# a raised cut along it, the runs taking turns; the peak memory of each.
flattenBench() {
    local dsf=$WORK/tile_${SIZE_MIB}m.dsf
    [ -s "$WORK/outline_clipped/raised.obj" ] || outlineBench > /dev/null
    local flat=$WORK/flatten
    mkdir -p "$flat"
    printf '[mesh_carver]\ninput_file=%s\narea_file=%s\noutput_tile=flat.dsf\nblend_m=100\n' \
        "$dsf" "$WORK/small_area.geojson" > "$flat/mesh_carver.ini"
    local times=""
    for _ in $(seq "$RUNS"); do
        times="$times$(cd "$WORK/outline_clipped" && elapsed "$TOOL" put-back)"
        times="$times $(cd "$flat" && elapsed "$TOOL" flatten)"$'\n'
    done
    local putBack flatten
    putBack=$(printf '%s' "$times" | awk 'NF { print $1 }' | median)
    flatten=$(printf '%s' "$times" | awk 'NF { print $2 }' | median)
    printf '%-44s %8.3f s  peak %s KiB  %s\n' "flatten along the area, blend 100 m" "$flatten" \
        "$(cd "$flat" && peakKiB "$TOOL" flatten)" "$(cd "$flat" && "$TOOL" flatten | tail -1 | tr -d '\r')"
    printf '%-44s %8.3f s  peak %s KiB\n' "  clipped put-back along it, raised" "$putBack" \
        "$(cd "$WORK/outline_clipped" && peakKiB "$TOOL" put-back)"
    printf '%-44s %.2fx the clipped put-back\n' "  flatten" "$(echo "$flatten / $putBack" | bc -l)"
    rm -f "$flat"/flat.dsf* "$WORK"/outline_*/back.dsf
}

# Each path against its floor, one line a ratio, the runs of a line taking turns (medians): the
# text tile's small window against wc -l of the same file, with its peak memory; the binary
# tile's small window and whole tile with clip=1 against the same windows without it.
floorsBench() {
    local dsf=$WORK/tile_${SIZE_MIB}m.dsf
    [ -s "$dsf" ] || "$BUILD/make_dsf" "$TILE" "$dsf" "$WORK/tile_${SIZE_MIB}m_dsf.txt"
    cat "$TILE" "$dsf" > /dev/null
    local times="" start
    for _ in $(seq "$RUNS"); do
        start=$(seconds); wc -l "$TILE" > "$WORK/stdout.txt"; times="$times$(echo "$(seconds) - $start" | bc)"
        times="$times $(cd "$SMALL" && elapsed "$TOOL")"$'\n'
    done
    local wcTime textTime
    wcTime=$(printf '%s' "$times" | awk 'NF { print $1 }' | median)
    textTime=$(printf '%s' "$times" | awk 'NF { print $2 }' | median)
    printf '%-44s %8.3f s  wc -l %.3f s: %.2fx, peak %s KiB\n' "floor: text tile, small window" \
        "$textTime" "$wcTime" "$(echo "$textTime / $wcTime" | bc -l)" "$(cd "$SMALL" && peakKiB "$TOOL")"
    for size in small whole; do
        local window=(47.4 47.4225 12.4 12.4225) runs=$RUNS
        [ $size = whole ] && window=(46.9 48.1 11.9 13.1) runs=3
        ini "$WORK/f_${size}_rect" "$dsf" "${window[@]}" cut.obj
        ini "$WORK/f_${size}_clip" "$dsf" "${window[@]}" cut.obj
        echo "clip=1" >> "$WORK/f_${size}_clip/mesh_carver.ini"
        local pair
        mapfile -t pair < <(interleaved "$runs" "$WORK/f_${size}_rect" "$WORK/f_${size}_clip")
        printf '%-44s %8.3f s  without clip=1 %.3f s: %.2fx\n' "floor: binary tile, $size window, clip=1" \
            "${pair[1]}" "${pair[0]}" "$(echo "${pair[1]} / ${pair[0]}" | bc -l)"
        rm -f "$WORK/f_${size}_rect/cut.obj" "$WORK/f_${size}_clip/cut.obj"
    done
}

if [ -n "${ONLY_FLOORS:-}" ]; then
    floorsBench
    putBackBench
    exit 0
fi

if [ -n "${ONLY_OUTLINE:-}" ]; then
    outlineBench
    exit 0
fi

if [ -n "${ONLY_FLATTEN:-}" ]; then
    flattenBench
    exit 0
fi

if [ -n "${ONLY_AREA:-}" ]; then
    areaBench
    exit 0
fi

if [ -n "${ONLY_CACHE:-}" ]; then
    cacheBench
    exit 0
fi

if [ -n "${ONLY_PUT_BACK:-}" ]; then
    putBackBench
    exit 0
fi

if [ -n "${ONLY_BINARY:-}" ]; then
    binaryForms
    cacheBench
    putBackBench
    areaBench
    outlineBench
    exit 0
fi

grepTime=$(timeRuns "$RUNS" grep -c PATCH_VERTEX "$TILE")
smallTime=$(cd "$SMALL" && timeRuns "$RUNS" "$TOOL")
awkTime=$(cd "$SMALL" && timeRuns 3 awk -v latMin=47.4 -v latMax=47.4225 -v lonMin=12.4 \
    -v lonMax=12.4225 -v out=awk.tmp -f "$HERE/reference.awk" "$TILE")
smallKept=$(cd "$SMALL" && "$TOOL" | grep -c '^Step 1')
smallPeak=$(cd "$SMALL" && peakKiB "$TOOL")

# whole tile: total time, and the writer's share from the console's own timeline
wholeTimes=()
writerTimes=()
for _ in $(seq 3); do
    start=$(seconds)
    marks=$(cd "$WHOLE" && "$TOOL" | grep --line-buffered -E '^(Writing|Coordinates)' |
        while IFS= read -r _; do seconds; done)
    end=$(seconds)
    wholeTimes+=("$(echo "$end - $start" | bc)")
    writerTimes+=("$(echo "$marks" | awk 'NR == 1 { a = $1 } NR == 2 { print $1 - a }')")
done
wholeTime=$(printf '%s\n' "${wholeTimes[@]}" | median)
writerTime=$(printf '%s\n' "${writerTimes[@]}" | median)
wholePeak=$(cd "$WHOLE" && peakKiB "$TOOL")
# the writer alone, without the file system: the object goes to /dev/null
NULLOUT=$WORK/nullout
ini "$NULLOUT" "$TILE" 46.9 48.1 11.9 13.1 /dev/null
nullMarks=$(cd "$NULLOUT" && "$TOOL" | grep --line-buffered -E '^(Writing|Coordinates)' |
    while IFS= read -r _; do seconds; done)
nullWriterTime=$(echo "$nullMarks" | awk 'NR == 1 { a = $1 } NR == 2 { print $1 - a }')
vertices=$(sed -n 6p "$WHOLE/whole.obj" | awk '{ print $2 }')
objectBytes=$(stat -c %s "$WHOLE/whole.obj")

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -g | awk '/Mem:/ { print $2 }') GiB, $(uname -sr)"
echo "tile: $SIZE_MIB MiB, $(grep -c PATCH_VERTEX "$TILE") vertex lines; medians of $RUNS runs (awk and whole tile: 3)"
printf '%-44s %8.3f s\n' "grep -c PATCH_VERTEX (the floor)" "$grepTime"
printf '%-44s %8.3f s  %.2fx grep, %.1fx faster than awk, %s kept blocks, peak %s KiB\n' \
    "mesh_carver, small window" "$smallTime" "$(echo "$smallTime / $grepTime" | bc -l)" \
    "$(echo "$awkTime / $smallTime" | bc -l)" "$smallKept" "$smallPeak"
printf '%-44s %8.3f s\n' "awk reference selection pass" "$awkTime"
printf '%-44s %8.3f s  %s vertices, peak %s KiB, %.1f bytes/vertex above the small window\n' \
    "mesh_carver, whole tile" "$wholeTime" "$vertices" "$wholePeak" \
    "$(echo "($wholePeak - $smallPeak) * 1024 / $vertices" | bc -l)"
triangles=$(sed -n 6p "$WHOLE/whole.obj" | awk '{ print $5 / 3 }')
printf '%-44s %s triangles: %.1f bytes of memory each (peak), %.1f bytes of object each\n' \
    "mesh_carver, whole tile, per kept triangle" "$triangles" \
    "$(echo "$wholePeak * 1024 / $triangles" | bc -l)" "$(echo "$objectBytes / $triangles" | bc -l)"
printf '%-44s %8.3f s  %.0f MB/s of object text (%s bytes)\n' "object writer phase (whole tile)" \
    "$writerTime" "$(echo "$objectBytes / $writerTime / 1000000" | bc -l)" "$objectBytes"

printf '%-44s %8.3f s  %.0f MB/s of object text\n' "object writer phase, object to /dev/null" \
    "$nullWriterTime" "$(echo "$objectBytes / $nullWriterTime / 1000000" | bc -l)"

if [ -n "${BIG_MIB:-}" ]; then
    BIG=$(tile "$BIG_MIB")
    ini "$WORK/big" "$BIG" 47.4 47.4225 12.4 12.4225 small.obj
    cat "$BIG" > /dev/null
    bigTime=$(cd "$WORK/big" && timeRuns 1 "$TOOL")
    printf '%-44s %8.3f s  peak %s KiB\n' "mesh_carver, small window, $BIG_MIB MiB tile" "$bigTime" \
        "$(cd "$WORK/big" && peakKiB "$TOOL")"
fi

binaryForms
cacheBench
putBackBench
areaBench
outlineBench
flattenBench
floorsBench
