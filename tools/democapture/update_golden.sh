#!/bin/sh
# Renders the golden frames listed in tests/golden/golden_frames.txt with democapture and
# stores them under tests/golden/, replacing what is there. Run it after a deliberate change of
# the picture (shaders, textures, tracks, passes), look at the new frames, and commit them.
#   tools/democapture/update_golden.sh [BUILD_DIR]      (default BUILD_DIR: build)
# Builds democapture and the show first. Leaves tests/golden/ untouched if any capture fails.
set -eu

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac
golden=$repo/tests/golden
list=$golden/golden_frames.txt

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" >/dev/null
fi
cmake --build "$build" --target democapture -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/golden-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# A copy of the show whose module track is 0 throughout: bin/ with the modules, data/ linked
# except sync/, which is copied with _scene_karaoke.track replaced by one key of value 0.
make_module_off_show() {
    src=$1 dst=$2
    mkdir -p "$dst/bin/dll_cache" "$dst/data/sync"
    cp "$src"/bin/render*.so "$dst/bin/"
    for entry in "$src"/data/*; do
        name=$(basename "$entry")
        [ "$name" = sync ] || ln -s "$(readlink -f "$entry")" "$dst/data/$name"
    done
    cp "$src"/data/sync/* "$dst/data/sync/"
    # count 1; row 0, value 0.0f, step: 13 bytes, little-endian
    printf '\001\000\000\000\000\000\000\000\000\000\000\000\000' >"$dst/data/sync/_scene_karaoke.track"
}

shows=$(grep -v '^[[:space:]]*#' "$list" | awk 'NF { print $1 }' | awk '!seen[$0]++')
for show in $shows; do
    times=$(grep -v '^[[:space:]]*#' "$list" | awk -v s="$show" '$1 == s { printf "%s%s", sep, $2; sep = "," }')
    case $show in
        show) dir=$build/show ;;
        module_off) dir=$work/module_off_show; make_module_off_show "$build/show" "$dir" ;;
        *) echo "## ERROR: update_golden: unknown show \"$show\" in $list" >&2; exit 1 ;;
    esac
    echo "# rendering $show at $times"
    "$build/tools/democapture" --show "$dir" --out "$work/frames/$show" --at "$times" >"$work/$show.log" 2>&1 || {
        cat "$work/$show.log" >&2
        echo "## ERROR: update_golden: the capture of \"$show\" failed; tests/golden/ was left as it was" >&2
        exit 1
    }
done

# Every capture worked: replace the stored frames, dropping those no longer listed.
for show in $shows; do
    rm -rf "$golden/$show"
    mkdir -p "$golden/$show"
    cp "$work/frames/$show"/*.png "$golden/$show/"
done
for stale in "$golden"/*/; do
    name=$(basename "$stale")
    echo "$shows" | grep -qx "$name" || rm -rf "$stale"
done
echo "# golden frames written to $golden; look at them before committing"
