#!/usr/bin/env bash
# Makes the media fuzz target's seeds in corpus/media from the sample recording: its first four
# seconds at 64×36, with sound as a camera records it (AAC), as MP4, as Matroska, and as Matroska
# written through a pipe (no stated length, no index). Each is a few tens of kilobytes, well
# within the length scripts/fuzz.sh lets an input grow to.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
sample="$here/../../fixtures/sample-presenter.mp4"
out="$here/corpus/media"
mkdir -p "$out"
quiet=(-nostdin -v error -y)
same=(-map_metadata -1 -fflags +bitexact)
ffmpeg "${quiet[@]}" -i "$sample" -t 4 -vf scale=64:36 -c:v libx264 -preset veryslow -crf 40 -g 50 -threads 1 \
  -c:a aac -b:a 24k -ac 1 -movflags +faststart "${same[@]}" "$out/sample.mp4"
ffmpeg "${quiet[@]}" -i "$out/sample.mp4" -c copy "${same[@]}" "$out/sample.mkv"
ffmpeg "${quiet[@]}" -i "$out/sample.mp4" -c copy "${same[@]}" -f matroska pipe: > "$out/sample-piped.mkv"
ls -l "$out"
