#!/bin/sh
# Fits the built-in town's departures to houston-shape.csv (see README.md).
# Usage: examples/calibration/run.sh [marovel-sim] [output folder]
set -eu
here=$(dirname "$0")
sim=${1:-build/release/cli/marovel-sim}
out=${2:-calibration-fit}
"$sim" calibrate --observed "$here/houston-shape.csv" --minutes-per-tick 6 \
    --vary feedback=0.2..0.5 --vary parked_speed=0.0015..0.004 \
    --replicates 10 --budget 40 --bootstrap 8 --out "$out"
