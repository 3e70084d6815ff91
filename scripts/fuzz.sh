#!/usr/bin/env bash
# Builds the fuzz targets with clang in build/fuzz and runs each for SECONDS (default 60),
# seeded with the recordings and sidecars iqgen writes. Inputs that crash are left in
# build/fuzz/crashes/<target>/; copy those worth keeping to fuzz/regressions/<target>/, where
# the core tests replay them.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
out=build/fuzz
# Every target there is: fuzz/fuzz_NAME.cpp is target NAME.
targets=()
for f in fuzz/fuzz_*.cpp; do
  t="${f#fuzz/fuzz_}"
  targets+=("${t%.cpp}")
done

CC=clang CXX=clang++ cmake -S fuzz -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out" --target fuzz_all -j 2

# Seeds: short recordings in every format, with the selector bytes each target reads.
seeds="$out/seeds"
if [ ! -d "$seeds/raw" ]; then
  rm -rf "$seeds"
  mkdir -p "$seeds/raw" "${targets[@]/#/$seeds/}"
  "$out/iqgen" --out "$seeds/raw" --seconds 0.002 --rate 2000000 >/dev/null
  i=0
  for f in "$seeds"/raw/demo_*; do
    case "$f" in
    *.txt) cp "$f" "$seeds/sidecar/" ;;
    *)
      # source: byte 0 = extension index | hint << 3 (the demo files' own hints)
      for sel in '\x00' '\x01' '\x02' '\x0b' '\x14' '\x1c' '\x0c' '\x04' '\x20' '\x22' '\x27'; do
        { printf "$sel"; head -c 16384 "$f"; } >"$seeds/source/$(basename "$f")-$i"
        i=$((i + 1))
      done
      { printf '\x80\x30\x30'; head -c 16384 "$f"; } >"$seeds/thumbnail/$(basename "$f")"
      ;;
    esac
  done
  cp "$seeds"/raw/demo_vita49_*.iq "$seeds/vita49/"
  cp "$seeds"/raw/demo_wav.iq "$seeds/wav/"
  head -c 300 /dev/urandom >"$seeds/thumbnail/random"
  # sigmf: a metadata file as recorders write it; cif: byte 0 picks the byte order and where
  # CIF0 stands, then a context packet's fields (the demo streams' context packets).
  printf '%s' '{"global": {"core:datatype": "ci16_le", "core:sample_rate": 2000000, "core:version": "1.0.0"},
 "captures": [{"core:sample_start": 0, "core:frequency": 433920000}],
 "annotations": [{"core:sample_start": 10, "core:sample_count": 100, "core:label": "burst"}]}' \
    >"$seeds/sigmf/recorder.sigmf-meta"
  for f in "$seeds"/raw/demo_vita49_*.iq; do
    { printf '\x03'; head -c 200 "$f" | tail -c +5; } >"$seeds/cif/$(basename "$f")-be"
    { printf '\x02'; head -c 200 "$f" | tail -c +5; } >"$seeds/cif/$(basename "$f")-le"
  done
fi

status=0
for t in "${targets[@]}"; do
  corpus="$out/corpus/$t"
  crashes="$out/crashes/$t"
  mkdir -p "$corpus" "$crashes" "$seeds/$t"
  regress=()
  [ -d "fuzz/regressions/$t" ] && regress=("fuzz/regressions/$t")
  echo "=== fuzz_$t: ${seconds} s"
  if ! "$out/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=25 \
      -artifact_prefix="$crashes/" -print_final_stats=1 "$corpus" "$seeds/$t" "${regress[@]}" \
      >"$out/fuzz_$t.log" 2>&1; then
    echo "fuzz_$t FOUND A FAULT; see $out/fuzz_$t.log and $crashes/"
    tail -40 "$out/fuzz_$t.log"
    status=1
  fi
  grep -E "stat::number_of_executed_units|cov:" "$out/fuzz_$t.log" | tail -2 || true
done
exit $status
