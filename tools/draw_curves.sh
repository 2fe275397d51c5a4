#!/usr/bin/env bash
# Draws doc/curves.png, the byte sent against the level given, for the
# curves "linear", 2.0, 2.8 and "dali" with min 20 and max 230, from the
# program's own mapping (tools/curve_table.cpp, built from
# src/common/output_curve.cpp). Needs gnuplot (Debian: gnuplot-nox).
# Usage: tools/draw_curves.sh [BUILD_DIR]    (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
command -v gnuplot >/dev/null || { echo "draw_curves: gnuplot is missing (apt-get install gnuplot-nox)" >&2; exit 2; }
cmake --build "$build" --target curve_table >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for curve in linear 2.0 2.8 dali; do
  "$build/curve_table" "$curve" 20 230 >"$work/$curve.dat"
done

gnuplot <<PLOT
set terminal pngcairo size 800,560 font "sans,11"
set output "doc/curves.png"
set title "Byte sent for each level, min 20, max 230"
set xlabel "level given"
set ylabel "byte sent"
set xrange [0:255]
set yrange [0:255]
set xtics 0,32,255
set ytics 0,32,255
set grid
set key top left
plot "$work/linear.dat" with steps lw 2 title "linear", \
     "$work/2.0.dat" with steps lw 2 title "2.0", \
     "$work/2.8.dat" with steps lw 2 title "2.8", \
     "$work/dali.dat" with steps lw 2 title "dali"
PLOT
echo "draw_curves: doc/curves.png"
