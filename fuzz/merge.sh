#!/usr/bin/env bash
# Fuzzes one target for a while from its committed corpus and folds what
# covers something new back into it, keeping the corpus minimal:
#   bash fuzz/merge.sh TARGET [SECONDS]
# Needs the fuzz preset built (fuzz/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
target=$1 seconds=${2:-60}
program=build/fuzz/fuzz/$target
corpus=fuzz/corpus/$target
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$corpus" "$scratch/found" "$scratch/merged"
cp -r "$corpus/." "$scratch/found/"
"$program" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$scratch/found" 2>&1 | tail -12
"$program" -merge=1 "$scratch/merged" "$scratch/found" 2>&1 | tail -2
rm -f "$corpus"/*
cp "$scratch/merged/." "$corpus/" -r
echo "$corpus: $(ls "$corpus" | wc -l) files, $(du -sh "$corpus" | cut -f1)"
