#!/usr/bin/env bash
# Source-based coverage of the fuzzed code: builds the harnesses with coverage mapping (in
# build-fuzz-cov), replays each harness's working corpus from the last run_fuzzers.sh together
# with its committed seeds, and prints llvm-cov's report over the files that harness targets.
# Usage: tests/fuzz/coverage.sh [HARNESS...]   (FUZZ_BUILD_DIR: where the working corpora are)
set -euo pipefail
cd "$(dirname "$0")/../.."
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(track_file_fuzzer track_source_fuzzer obj_fuzzer texture_image_fuzzer)
work_build=${FUZZ_BUILD_DIR:-build-fuzz}
build=build-fuzz-cov
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DDEMO_FUZZ=ON \
    -DDEMO_FUZZ_COVERAGE=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null

targets_of() {
  case "$1" in
    track_file_fuzzer) echo host/sync/sync_store.cpp host/sync/sync_track.cpp host/sync/track_file.cpp ;;
    track_source_fuzzer) echo host/sync/track_source.cpp host/sync/track_text.cpp host/sync/track_file.cpp host/sync/sync_track.cpp ;;
    obj_fuzzer) echo mesh_files/obj/obj_parser.cpp mesh_files/obj/obj_text_scan.h mesh_files/obj/obj_assembly.cpp \
      mesh_files/obj/indexed_mesh.cpp mesh_files/obj/mesh_exit.cpp ;;
    texture_image_fuzzer) echo gfx/textures/texture_image.cpp gfx/textures/image_file.cpp ;;
  esac
}

for harness in "${harnesses[@]}"; do
  out="$build/coverage/$harness"
  rm -rf "$out" && mkdir -p "$out"
  corpora=("tests/fuzz/corpus/$harness")
  [ -d "$work_build/fuzz-work/$harness/corpus" ] && corpora=("$work_build/fuzz-work/$harness/corpus" "${corpora[@]}")
  LLVM_PROFILE_FILE="$out/%p.profraw" ASAN_OPTIONS=detect_leaks=0 \
    "$build/tests/fuzz/$harness" -runs=0 "${corpora[@]}" >"$out/replay.log" 2>&1
  llvm-profdata merge -sparse "$out"/*.profraw -o "$out/merged.profdata"
  echo "# coverage of $harness over ${corpora[*]}"
  # shellcheck disable=SC2046
  llvm-cov report "$build/tests/fuzz/$harness" -instr-profile="$out/merged.profdata" $(targets_of "$harness")
done
