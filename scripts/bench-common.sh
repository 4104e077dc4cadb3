# What the command-line benchmarks share, sourced after ROOT, BUILD, COUNT and RUNS are set.

# bench_work NAME: a scratch folder in $WORK (removed on exit) holding the settings folder and
# src/; Qt without a display.
bench_work() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/captiomark-$1.XXXXXX")
    trap 'rm -rf "$WORK"' EXIT
    export CAPTIOMARK_CONFIG_DIR=$WORK/config
    mkdir -p "$CAPTIOMARK_CONFIG_DIR" "$WORK/src"
    export QT_QPA_PLATFORM=offscreen
}

# bench_photo KIND WIDTH HEIGHT OUT [standard]: a generated photo at quality 92, 4:2:0. smooth:
# gradients and a soft disc; noisy and optimized: the same with grain, as a camera file. With
# "standard" it keeps the standard Huffman tables a camera writes, not tables made for the photo.
bench_photo() {
    local size=$2x$3
    local args=(-size "$size" gradient:'#3a6ea5-#f0c080'
        \( -size "$size" radial-gradient:'#ffffff-#000000' \) -compose softlight -composite
        -fill '#20304080' -draw "circle $(($2 / 3)),$(($3 / 2)) $(($2 / 3 + $3 / 5)),$(($3 / 2))")
    [ "$1" != smooth ] && args+=(-seed 1 -attenuate 0.6 +noise Gaussian)
    [ "${5:-}" = standard ] && args+=(-define jpeg:optimize-coding=false)
    convert "${args[@]}" -sampling-factor 2x2 -quality 92 "$4"
}

# bench_pattern OUT: three white text bricks, laid out at zoom 1 for a 4000 x 3000 photo.
bench_pattern() {
    brick() { # NAME LEFT TOP SIZE CAPTION
        printf '    <Brick Body="object %s: TText%%CR%%LF  Left = %d%%CR%%LF  Top = %d%%CR%%LF  Caption = '"'"'%s'"'"'%%CR%%LF  Font.Color = clWhite%%CR%%LF  Font.Height = -%d%%CR%%LF  Font.Name = '"'"'DejaVu Sans'"'"'%%CR%%LFend%%CR%%LF"/>\n' \
            "$1" "$2" "$3" "$5" "$4"
    }
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo '<Project Name="Bench" Created="by bench">'
        echo '  <Inspector Left="0" Top="0" Width="0" Height="0" ColWidth="0" Sort="False" AlwaysOnTop="False"/>'
        echo '  <Designer Left="0" Top="0" Width="0" Height="0" GridX="4" GridY="4" IsGrid="False" Zoom="1"/>'
        echo '  <Manager Left="0" Top="0" Width="0" Height="0"/>'
        echo '  <Bricks>'
        brick Text1 200 300 64 'Summer 2026'
        brick Text2 1100 1150 96 'Captiomark'
        brick Text3 200 2000 128 'Lake shore, evening'
        echo '  </Bricks>'
        echo '</Project>'
    } >"$1"
}
