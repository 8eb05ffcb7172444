# The selection pass as a user would otherwise script it: copy every primitive block with a
# vertex strictly inside the window to `out`, CR LF line ends, and print a progress line per kept
# block. Usage: awk -v latMin=.. -v latMax=.. -v lonMin=.. -v lonMax=.. -v out=FILE -f reference.awk TILE
$1 == "BEGIN_PRIMITIVE" { inBlock = 1; touches = 0; n = 0; block[++n] = $0; seen++; next }
!inBlock || $0 == "" { next }
{ block[++n] = $0 }
$1 == "PATCH_VERTEX" && !touches {
    if ($3 + 0 > latMin && $3 + 0 < latMax && $2 + 0 > lonMin && $2 + 0 < lonMax) touches = 1
}
$1 == "END_PRIMITIVE" {
    inBlock = 0
    if (touches) {
        kept++
        printf "Step 1: %d/ %d\r\n", kept, seen
        for (i = 1; i <= n; i++) printf "%s\r\n", block[i] > out
    }
}
