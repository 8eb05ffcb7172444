#!/usr/bin/env bash
# Runs mesh_carver.exe under Wine and the Linux mesh_carver on the same cases and compares the
# console bytes, mesh_carver.tmp, the object, the Wavefront file and the exit status.
#   tests/windows/differential.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
LINUX=$(cd "$1" && pwd)
WINDOWS=$(cd "$2" && pwd)
HERE=$(cd "$(dirname "$0")/../.." && pwd)
SAMPLES=$HERE/tests/data/dsf
WORK=$WINDOWS/differential
export WINEPREFIX=$WINDOWS/wineprefix WINEDEBUG=-all
export XDG_CACHE_HOME=$WORK/linux-cache  # the Linux runs' unpacked 7z tiles
rm -rf "$WORK" && mkdir -p "$WORK/inputs"

# inputs: the sample, generated tiles with LF and CR LF ends, text and binary DSF, a raster tile
cp "$HERE/examples/sample_tile.txt" "$WORK/inputs/"
"$LINUX/make_tile" 3000000 42 12 47 0.05 > "$WORK/inputs/gen_lf.txt"
sed 's/$/\r/' "$WORK/inputs/gen_lf.txt" > "$WORK/inputs/gen_crlf.txt"
"$LINUX/make_dsf" "$WORK/inputs/gen_lf.txt" "$WORK/inputs/gen.dsf" "$WORK/inputs/gen_dsf.txt"
"$LINUX/make_dsf" --raster "$WORK/inputs/gen_lf.txt" "$WORK/inputs/raster.dsf" \
    "$WORK/inputs/raster_dsf.txt"
for f in mesh_small.7z.dsf mesh_small.lzma2.7z.dsf raster_small.7z.dsf tin_small.dsf \
         tin_small.7z.dsf tin_small.txt; do
    cp "$SAMPLES/$f" "$WORK/inputs/"
done
cp "$HERE"/tests/data/put_back/edited_*.obj "$HERE"/tests/data/put_back/edited_*.mtl "$WORK/inputs/"
cp "$HERE"/tests/data/areas/* "$WORK/inputs/"

ini() {  # ini INPUT [MAX_VERTEX MAX_TRIS OUTPUT EXTRA]
    printf '[mesh_carver]\r\nlat_min=47.01\r\nlat_max=47.03\r\nlong_min=12.015\r\nlong_max=12.04\r\n'
    printf 'input_file=%s\r\noutput_file=%s\r\nnb_max_vertex=%s\r\nnb_max_tris=%s\r\n%s' \
        "$1" "${4:-out.obj}" "${2:-1000000}" "${3:-1000000}" "${5:-}"
}

compared=0 failed=0
run_side() {  # run_side SIDE: one run of that side's build in the current folder
    status=0
    if [ "$1" = linux ]; then
        MESH_CARVER_TEXT_PASS=${LINUX_TEXT_PASS:-} "$LINUX/mesh_carver" ${VERB:-} > console.bin \
            2> /dev/null || status=$?
    else
        MESH_CARVER_TEXT_PASS=${WINDOWS_TEXT_PASS:-} wine "$WINDOWS/mesh_carver.exe" ${VERB:-} \
            > console.bin 2> /dev/null || status=$?
    fi
    echo "$status" > status.txt
}

# TWICE=ARCHIVE: a first run fills the cache folder "cache", then the archive is scrambled with
# its size and time kept, so that only the cached copy can give the second run's outputs
first_run_fills_cache() {
    run_side "$1"
    cp -p "$TWICE" archive.bak
    python3 -c 'import sys; p = sys.argv[1]; b = bytearray(open(p, "rb").read())
b[32:] = bytes(x ^ 0x5A for x in b[32:]); open(p, "wb").write(b)' "$TWICE"
    touch -r archive.bak "$TWICE" && rm archive.bak
}

# check NAME: runs both builds in copies of $WORK/case and compares what they leave
check() {
    local name=$1
    for side in linux windows; do
        rm -rf "$WORK/$side" && cp -r "$WORK/case" "$WORK/$side"
        (
            cd "$WORK/$side"
            [ -n "${TWICE:-}" ] && first_run_fills_cache "$side"
            [ -n "${HOLD_LOCK:-}" ] && start_holder "$side"
            run_side "$side"
            [ -n "${HOLD_LOCK:-}" ] && stop_holder
            # the copy's name digests the archive's full path and time: not compared
            [ -n "${TWICE:-}" ] && ls cache/*.dsf | wc -l > copies.txt && rm -rf cache
            true
        )
    done
    compared=$((compared + 1))
    if diff -r -q "$WORK/linux" "$WORK/windows" > /dev/null; then
        echo "same: $name (status $(cat "$WORK/linux/status.txt"), $(ls "$WORK/linux" | wc -l) files)"
    else
        failed=$((failed + 1))
        echo "DIFFERENT: $name"
        diff -r -q "$WORK/linux" "$WORK/windows" | head -5
    fi
}

# a first run holding the temporary file's lock: flock on Linux, LockFileEx under Wine
start_holder() {
    mkfifo hold.fifo
    if [ "$1" = linux ]; then
        flock mesh_carver.tmp sh -c 'echo locked; cat > /dev/null' < hold.fifo > hold.out &
    else
        wine "$WINDOWS/tests/hold_lock.exe" < hold.fifo > hold.out 2> /dev/null &
    fi
    exec 3> hold.fifo
    for _ in $(seq 200); do grep -q locked hold.out 2> /dev/null && break; sleep 0.05; done
}
stop_holder() {
    exec 3>&-
    wait
    rm -f hold.fifo hold.out
}

new_case() {  # new_case INPUT...: a fresh folder holding these inputs
    rm -rf "$WORK/case" && mkdir -p "$WORK/case"
    for f in "$@"; do cp "$WORK/inputs/$f" "$WORK/case/"; done
}

wine "$WINDOWS/mesh_carver.exe" --version > /dev/null 2>&1 || true  # creates the Wine prefix

new_case sample_tile.txt
cp "$HERE/examples/mesh_carver.ini" "$WORK/case/"
check "the sample"
for input in gen_lf.txt gen_crlf.txt gen.dsf gen_dsf.txt raster.dsf raster_dsf.txt \
             mesh_small.7z.dsf mesh_small.lzma2.7z.dsf raster_small.7z.dsf; do
    [ -f "$WORK/inputs/$input" ] || continue
    new_case "$input"
    [ "$input" = raster_dsf.txt ] && cp "$WORK/inputs/raster_dsf.txt.elevation.raw" "$WORK/case/"
    ini "$input" > "$WORK/case/mesh_carver.ini"
    check "$input"
    ini "$input" 1000000 1000000 out.obj $'wavefront_file=cut.obj\r\n' > "$WORK/case/mesh_carver.ini"
    check "$input with a Wavefront file"
    if [[ $input == *.7z.dsf ]]; then
        ini "$input" 1000000 1000000 out.obj $'cache_folder=cache\r\n' > "$WORK/case/mesh_carver.ini"
        TWICE=$input check "$input read again from the cache"
    fi
done

new_case gen_lf.txt
check "no ini file"
ini gen_lf.txt | sed '/^lat_max/d' > "$WORK/case/mesh_carver.ini"
check "a missing key"
ini missing.txt > "$WORK/case/mesh_carver.ini"
check "a missing input"
ini gen_lf.txt 100 > "$WORK/case/mesh_carver.ini"
check "the vertex capacity"
ini gen_lf.txt 1000000 100 > "$WORK/case/mesh_carver.ini"
check "the index capacity"
ini gen_lf.txt 1000000 1000000 'no\folder\out.obj' > "$WORK/case/mesh_carver.ini"
check "a missing output folder"
ini gen_lf.txt > "$WORK/case/mesh_carver.ini"
HOLD_LOCK=1 check "a second run while the lock is held"

# generated text tiles, their numbers in every spelling the reader takes and their lines with
# every oddity it handles: the exe reads them in parts with the quick look, Linux in one plain pass
for seed in 1 2 3 5 8 13 21 34 55 89 144 233; do
    rm -rf "$WORK/case" && mkdir -p "$WORK/case"
    (cd "$WORK/case" && "$LINUX/tests/make_spelled_tile" "$seed" spelled.txt > mesh_carver.ini)
    LINUX_TEXT_PASS=plain WINDOWS_TEXT_PASS=parts=3 check "spelled tile $seed"
done

# the put-back: the samples' untouched, edited and refused exports, into each form of the tile
putBackIni() {  # putBackIni INPUT EDITED
    printf '[mesh_carver]\r\nlat_min=45.505\r\nlat_max=45.545\r\nlong_min=7.505\r\nlong_max=7.545\r\n'
    printf 'input_file=%s\r\nwavefront_file=%s\r\noutput_tile=out_tile\r\n' "$1" "$2"
}
for input in tin_small.dsf tin_small.7z.dsf tin_small.txt; do
    for edit in none edit border; do
        new_case "$input" "edited_$edit.obj" "edited_$edit.mtl"
        putBackIni "$input" "edited_$edit.obj" > "$WORK/case/mesh_carver.ini"
        VERB=put-back check "put-back of edited_$edit.obj into $input"
    done
done
# a cut along the airport's outline (clip=1), put back untouched and with its inside lowered
clipKeys=$'area_file=apt.dat\r\narea=XTST\r\nclip=1\r\n'
new_case tin_small.dsf apt.dat
putBackIni tin_small.dsf clipped.obj > "$WORK/case/mesh_carver.ini"
printf 'output_file=out.obj\r\nnb_max_vertex=100000\r\nnb_max_tris=300000\r\n%s' "$clipKeys" >> "$WORK/case/mesh_carver.ini"
(cd "$WORK/case" && "$LINUX/mesh_carver" > /dev/null && cp clipped.obj clipped.mtl "$WORK/inputs/")
python3 "$HERE/bench/raise_inside.py" "$WORK/inputs/clipped.obj" "$WORK/inputs/lowered.obj" -5 \
    > /dev/null
for edit in clipped lowered; do
    new_case tin_small.dsf apt.dat "$edit.obj" clipped.mtl
    putBackIni tin_small.dsf "$edit.obj" > "$WORK/case/mesh_carver.ini"
    printf '%s' "$clipKeys" >> "$WORK/case/mesh_carver.ini"
    VERB=put-back check "put-back of $edit.obj along the airport's outline"
done
# the airport flattened, from the binary and the text tile, to its plane, to a height, and to
# its level without a band, with the picture of the change
for input in tin_small.dsf tin_small.txt; do
    for keys in '' $'flatten_to=1400\r\nblend_m=40\r\n' \
        $'flatten_to=level\r\nblend_m=0\r\npreview_file=change.svg\r\n'; do
        new_case "$input" apt.dat
        printf '[mesh_carver]\r\ninput_file=%s\r\narea_file=apt.dat\r\narea=XTST\r\noutput_tile=flat_tile\r\n%s' \
            "$input" "$keys" > "$WORK/case/mesh_carver.ini"
        VERB=flatten check "flatten of XTST in $input${keys:+ with ${keys//$'\r\n'/ }}"
    done
done
# an outline that crosses itself (the area is what it encloses) and one of curves with split
# handles, flattened with a narrow band
for area in XBOW XSPL; do
    new_case tin_small.dsf odd_airports.dat
    printf '[mesh_carver]\r\ninput_file=tin_small.dsf\r\narea_file=odd_airports.dat\r\narea=%s\r\n' \
        "$area" > "$WORK/case/mesh_carver.ini"
    printf 'output_tile=flat_tile\r\nblend_m=30\r\n' >> "$WORK/case/mesh_carver.ini"
    VERB=flatten check "flatten of $area in tin_small.dsf with blend_m=30"
done
new_case tin_small.dsf edited_edit.obj edited_edit.mtl
putBackIni tin_small.dsf 'edited_edit.obj' | sed 's/out_tile/tin_small.dsf/' > "$WORK/case/mesh_carver.ini"
VERB=put-back check "put-back over the input itself"

# two put-backs at once into one tile in place, of two windows: the exe's runs under Wine keep
# both edits, as two Linux runs one after the other do
WINDOWS_AB=("lat_min=45.505\r\nlat_max=45.545\r\nlong_min=7.505\r\nlong_max=7.545"
            "lat_min=45.42\r\nlat_max=45.46\r\nlong_min=7.42\r\nlong_max=7.46")
windowIni() {  # windowIni WINDOW EDITED
    printf "[mesh_carver]\r\n$1\r\ninput_file=../tile.dsf\r\noutput_file=cut.obj\r\n"
    printf 'nb_max_vertex=100000\r\nnb_max_tris=300000\r\nwavefront_file=%s\r\n' "$2"
    printf 'output_tile=../tile.dsf\r\n'
}
two_put_backs() {  # two_put_backs SIDE: the edits put back, then each window's origin carved again
    local folder=$WORK/two-$1
    rm -rf "$folder" && mkdir -p "$folder"
    cp "$WORK/inputs/tin_small.dsf" "$folder/tile.dsf"
    for w in 0 1; do
        mkdir "$folder/$w" && cd "$folder/$w"
        windowIni "${WINDOWS_AB[$w]}" cut.obj > mesh_carver.ini
        "$LINUX/mesh_carver" > /dev/null
        python3 "$HERE/bench/raise_inside.py" cut.obj raised.obj 50 > /dev/null
        cp cut.mtl raised.mtl
        windowIni "${WINDOWS_AB[$w]}" raised.obj > mesh_carver.ini
    done
    if [ "$1" = linux ]; then
        for w in 0 1; do (cd "$folder/$w" && "$LINUX/mesh_carver" put-back > console.bin); done
    else
        for w in 0 1; do
            (cd "$folder/$w" && wine "$WINDOWS/mesh_carver.exe" put-back > console.bin 2> errors.txt) &
        done
        wait
    fi
    for w in 0 1; do (cd "$folder/$w" && "$LINUX/mesh_carver" | tail -n 1); done
}
compared=$((compared + 1))
if [ "$(two_put_backs linux)" = "$(two_put_backs windows)" ]; then
    echo "same: two put-backs at once into one tile keep both edits"
else
    failed=$((failed + 1))
    echo "DIFFERENT: two put-backs at once into one tile"
    cat "$WORK"/two-windows/*/console.bin "$WORK"/two-windows/*/errors.txt
fi
cd "$WORK"

# cuts along the test airport from each kind of area file, whole triangles and clipped, with the
# preview; an airport that is not there, and a missing file
areaIni() {  # areaIni INPUT AREA_FILE EXTRA
    printf '[mesh_carver]\r\nlat_min=45.49\r\nlat_max=45.55\r\nlong_min=7.49\r\nlong_max=7.57\r\n'
    printf 'input_file=%s\r\noutput_file=out.obj\r\nnb_max_vertex=100000\r\nnb_max_tris=300000\r\n' "$1"
    printf 'area_file=%s\r\nwavefront_file=cut.obj\r\npreview_file=cut.svg\r\n%s' "$2" "$3"
}
for input in tin_small.dsf tin_small.txt; do
    for areas in apt.dat airport.geojson airport.kml; do
        for clip in 0 1; do
            new_case "$input" "$areas"
            areaIni "$input" "$areas" $'area=XTST\r\nclip='$clip$'\r\n' > "$WORK/case/mesh_carver.ini"
            check "$input along XTST from $areas, clip=$clip"
        done
    done
done
new_case tin_small.dsf apt.dat
areaIni tin_small.dsf apt.dat $'area=XTTS\r\n' > "$WORK/case/mesh_carver.ini"
check "an airport that is not there"
areaIni tin_small.dsf 'no\such.kml' '' > "$WORK/case/mesh_carver.ini"
check "a missing area file"

# boundaries as the airport tools draw them (split handles, a corridor to a lobe, two boundaries,
# a hole touching its outline) and odd rings (a crossing, a hole outside its outline, a feature
# found by its ref), each cut along what it encloses, the window taken from the area
for shape in odd_airports.dat:XSPL odd_airports.dat:XCOR odd_airports.dat:XTWO \
             odd_airports.dat:XBOW odd_airports.dat:XTCH odd_airports.dat:XSHR \
             odd_areas.geojson:XOUT; do
    file=${shape%%:*} code=${shape#*:}
    new_case tin_small.dsf "$file"
    printf '[mesh_carver]\r\ninput_file=tin_small.dsf\r\noutput_file=out.obj\r\n' \
        > "$WORK/case/mesh_carver.ini"
    printf 'nb_max_vertex=100000\r\nnb_max_tris=300000\r\narea_file=%s\r\narea=%s\r\n' "$file" \
        "$code" >> "$WORK/case/mesh_carver.ini"
    printf 'clip=1\r\nwavefront_file=cut.obj\r\npreview_file=cut.svg\r\n' >> "$WORK/case/mesh_carver.ini"
    check "$code from $file, clip=1, the window from the area"
done

# without cache_folder the exe keeps its copies under %LOCALAPPDATA%
compared=$((compared + 1))
if ls "$WINEPREFIX"/drive_c/users/*/AppData/Local/mesh_carver/cache/*.dsf > /dev/null 2>&1; then
    echo "same: the exe's cache under %LOCALAPPDATA%\\mesh_carver\\cache"
else
    failed=$((failed + 1))
    echo "DIFFERENT: no copy under %LOCALAPPDATA%\\mesh_carver\\cache"
fi

echo "$compared cases compared, $failed different"
echo "$((compared - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
