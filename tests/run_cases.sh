#!/usr/bin/env bash
# Runs one build of mesh_carver over every sample case (each tile form, windows whole and small,
# clip=1, areas from each file, damaged tiles and archives, capacities, put-backs of every edited
# sample into every form, in place, refused) and keeps every output: console, standard error,
# status, temporary file, object, Wavefront file, preview, tile. Two builds' folders compared
# with diff -r show what a change did to the outputs.
#   tests/run_cases.sh MESH_CARVER OUTDIR
set -euo pipefail
BIN=$(readlink -f "$1"); OUT=$(mkdir -p "$2" && cd "$2" && pwd)
D=$(cd "$(dirname "$0")" && pwd)/data
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
rm -rf "${OUT:?}"/*
n=0
run() { # name verb ini-lines...
  local name=$1 verb=$2; shift 2
  local w=$SCRATCH/work/$name; rm -rf $w; mkdir -p $w
  printf '[mesh_carver]\n' > $w/mesh_carver.ini
  for l in "$@"; do printf '%s\n' "$l" >> $w/mesh_carver.ini; done
  if [ -n "${PRE:-}" ]; then (cd $w && eval "$PRE") || true; fi
  (cd "$w"; s=0; XDG_CACHE_HOME=$SCRATCH/cache_$name "$BIN" $verb > stdout.txt 2> stderr.txt || s=$?
   echo $s > status.txt)
  rm -rf "$SCRATCH/cache_$name"
  mkdir -p $OUT/$name; cp -r $w/. $OUT/$name/; n=$((n+1))
}
WIN_SMALL=(lat_min=45.505 lat_max=45.545 long_min=7.505 long_max=7.545)
WIN_WHOLE=(lat_min=44.9 lat_max=46.1 long_min=6.9 long_max=8.1)
COMMON=(output_file=cut.obj nb_max_vertex=100000 nb_max_tris=300000 wavefront_file=cut.obj.wf.obj preview_file=cut.svg)
for t in tiny mesh_small ranges raster_small tin_small overlay_only; do
  for f in $D/dsf/$t.txt $D/dsf/$t.dsf $D/dsf/$t.7z.dsf; do
    [ -f $f ] || continue
    b=$(basename $f)
    run "carve_${b}_small" "" "${WIN_SMALL[@]}" input_file=$f "${COMMON[@]}"
    run "carve_${b}_whole" "" "${WIN_WHOLE[@]}" input_file=$f "${COMMON[@]}"
    run "carve_${b}_clip" "" "${WIN_SMALL[@]}" input_file=$f "${COMMON[@]}" clip=1
  done
done
for f in $D/dsf/corrupt/* $D/archives/*; do
  run "carve_bad_$(basename $f)" "" "${WIN_SMALL[@]}" input_file=$f "${COMMON[@]}"
done
run carve_cap "" "${WIN_WHOLE[@]}" input_file=$D/dsf/tin_small.dsf output_file=cut.obj nb_max_vertex=10 nb_max_tris=300000
for a in apt.dat airport.geojson airport.kml; do
  for f in $D/dsf/tin_small.txt $D/dsf/tin_small.dsf; do
    for c in 0 1; do
      run "area_${a}_$(basename $f)_$c" "" lat_min=45.49 lat_max=45.56 long_min=7.49 long_max=7.57 input_file=$f "${COMMON[@]}" area_file=$D/areas/$a area=XTST clip=$c
    done
  done
done
run area_bad "" "${WIN_SMALL[@]}" input_file=$D/dsf/tin_small.dsf "${COMMON[@]}" area_file=$D/areas/apt.dat area=NOPE
# textured pack
run textured "" lat_min=45.52 lat_max=45.53 long_min=7.52 long_max=7.53 "input_file=$D/textured/pack/Earth nav data/+40+000/+45+007.dsf" "${COMMON[@]}" "scenery_folder=$D/textured/pack" xplane_folder=$D/textured/xplane
# put-back: every edited sample into every form
for e in cut_blender edited_none edited_edit edited_border; do
  for f in $D/dsf/tin_small.dsf $D/dsf/tin_small.txt $D/dsf/tin_small.7z.dsf; do
    PRE="cp $D/put_back/$e.obj $D/put_back/$e.mtl ." run "pb_${e}_$(basename $f)" put-back lat_min=45.505 lat_max=45.545 long_min=7.505 long_max=7.545 input_file=$f output_file=cut.obj nb_max_vertex=100000 nb_max_tris=300000 wavefront_file=$e.obj output_tile=out.dsf
  done
done
# put-back in place
PRE="cp $D/put_back/edited_edit.obj $D/put_back/edited_edit.mtl . && cp $D/dsf/tin_small.dsf t.dsf" run pb_inplace put-back lat_min=45.505 lat_max=45.545 long_min=7.505 long_max=7.545 input_file=t.dsf output_file=cut.obj nb_max_vertex=100000 nb_max_tris=300000 wavefront_file=edited_edit.obj output_tile=t.dsf
PRE="cp $D/put_back/edited_edit.obj ." run pb_clip put-back lat_min=45.505 lat_max=45.545 long_min=7.505 long_max=7.545 input_file=$D/dsf/tin_small.dsf output_file=cut.obj wavefront_file=edited_edit.obj output_tile=o.dsf nb_max_vertex=100000 nb_max_tris=300000 clip=1
PRE="cp $D/put_back/edited_edit.obj ." run pb_nofile put-back lat_min=45.505 lat_max=45.545 long_min=7.505 long_max=7.545 input_file=$D/dsf/tin_small.dsf output_file=cut.obj wavefront_file=missing.obj output_tile=o.dsf nb_max_vertex=100000 nb_max_tris=300000
PRE="" run pb_noterrain put-back lat_min=45.505 lat_max=45.545 long_min=7.505 long_max=7.545 input_file=$D/dsf/overlay_only.dsf output_file=cut.obj wavefront_file=missing.obj output_tile=o.dsf nb_max_vertex=100000 nb_max_tris=300000
# raster put-back: carve, then put back unedited
PRE="$BIN >/dev/null" run pb_raster put-back "${WIN_WHOLE[@]}" input_file=$D/dsf/raster_small.dsf output_file=cut.obj wavefront_file=cut.obj.wf.obj nb_max_vertex=100000 nb_max_tris=300000 output_tile=o.dsf
PRE="printf '[mesh_carver]\n'>mesh_carver.ini" run missing_key "" lat_min=1
PRE="$BIN >/dev/null" run pb_area put-back lat_min=45.49 lat_max=45.56 long_min=7.49 long_max=7.57 input_file=$D/dsf/tin_small.txt output_file=cut.obj wavefront_file=cut.obj.wf.obj nb_max_vertex=100000 nb_max_tris=300000 output_tile=o.txt area_file=$D/areas/apt.dat area=XTST
PRE="$BIN >/dev/null" run pb_mesh_small put-back "${WIN_WHOLE[@]}" input_file=$D/dsf/mesh_small.dsf output_file=cut.obj wavefront_file=cut.obj.wf.obj nb_max_vertex=100000 nb_max_tris=300000 output_tile=o.dsf
PRE="$BIN >/dev/null" run pb_textured put-back lat_min=45.52 lat_max=45.53 long_min=7.52 long_max=7.53 "input_file=$D/textured/pack/Earth nav data/+40+000/+45+007.dsf" output_file=cut.obj wavefront_file=cut.obj.wf.obj nb_max_vertex=100000 nb_max_tris=300000 "scenery_folder=$D/textured/pack" xplane_folder=$D/textured/xplane output_tile=o.dsf
# flatten: every flatten_to, without a band, curves, holes, crossings, each tile form, the raster
# pad and the textured pack, with the picture of the change
TEXTURED="$D/textured/pack/Earth nav data/+40+000/+45+007.dsf"
for f in $D/dsf/tin_small.dsf $D/dsf/tin_small.txt $D/dsf/tin_small.7z.dsf; do
  for to in plane level airport 1400; do
    for blend in 0 40 100; do
      run "flat_$(basename $f)_${to}_$blend" flatten input_file=$f area_file=$D/areas/apt.dat area=XTST output_tile=flat.dsf flatten_to=$to blend_m=$blend preview_file=change.svg
    done
  done
done
for shape in XSPL XCOR XTWO XBOW XTCH XSHR; do
  for blend in 0 30 60; do
    run "flat_${shape}_$blend" flatten input_file=$D/dsf/tin_small.dsf area_file=$D/areas/odd_airports.dat area=$shape output_tile=flat.dsf flatten_to=plane blend_m=$blend preview_file=change.svg
  done
done
for blend in 0 30; do
  run "flat_raster_$blend" flatten input_file=$D/dsf/raster_small.dsf area_file=$D/areas/raster_pad.geojson area=PAD output_tile=flat.dsf flatten_to=2000 blend_m=$blend
  run "flat_textured_$blend" flatten "input_file=$TEXTURED" area_file=$D/areas/apt.dat area=XTST output_tile=flat.dsf blend_m=$blend "scenery_folder=$D/textured/pack" xplane_folder=$D/textured/xplane
done
PRE="cp $D/dsf/tin_small.dsf t.dsf" run flat_inplace flatten input_file=t.dsf area_file=$D/areas/apt.dat area=XTST output_tile=t.dsf blend_m=40
run flat_refused flatten input_file=$D/dsf/tin_small.dsf area_file=$D/areas/apt.dat area=XTST output_tile=flat.dsf blend_m=60000
echo "$n cases"
