#!/usr/bin/env bash
# Fails when a library includes a header of a library above it, when an include does not carry
# its path from the project root, or when code below app/ reaches the design surface through
# its global. The layer order is the order of the library folders in the top CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t layers < <(sed -n 's/^add_subdirectory(\([^)]*\))$/\1/p' CMakeLists.txt)
declare -A level
for i in "${!layers[@]}"; do level[${layers[$i]}]=$i; done

failures=0
fail() { echo "$1"; failures=$((failures + 1)); }

for folder in "${layers[@]}"; do
    depth=(-maxdepth 1)
    [ "$folder" = app ] && depth=()
    own=${level[$folder]}
    while IFS= read -r file; do
        while IFS= read -r line; do
            header=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' <<<"$line")
            [ -n "$header" ] || continue
            case "$header" in *.moc | moc_*) continue ;; esac
            if [[ "$header" != */* ]]; then
                fail "$file: #include \"$header\" does not carry its path"
                continue
            fi
            dir=$(dirname "$header")
            [ "$folder" = app ] && [[ "$dir" == app/* ]] && continue
            if [ -z "${level[$dir]+x}" ]; then
                fail "$file: #include \"$header\" is not a library's header"
            elif [ "${level[$dir]}" -gt "$own" ]; then
                fail "$file: #include \"$header\" reaches up from $folder to $dir"
            fi
        done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
    done < <(find "$folder" "${depth[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
done

while IFS= read -r hit; do
    fail "$hit: the design surface's global is for app/ only"
done < <(grep -rn --include='*.h' --include='*.cpp' 'Instance()' "${layers[@]}" | grep -v '^app/' |
    grep -v '^designer/state/TDesigner\.' || true)

# The README's layout table lists the same folders in the same order.
mapfile -t documented < <(sed -n 's/^| [0-9]* | `\([^`]*\)\/` |.*/\1/p' README.md)
if [ "${documented[*]}" != "${layers[*]}" ]; then
    fail "README.md layout table lists: ${documented[*]}; CMakeLists.txt: ${layers[*]}"
fi

if [ "$failures" -gt 0 ]; then
    echo "check-layers: $failures problem(s)"
    exit 1
fi
echo "check-layers: ${#layers[@]} folders, no include reaches up"
