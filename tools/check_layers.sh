#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a higher layer.
#
# The layers, lowest first (the README's Layout section shows the same order).
# Folders on one line share a rank and may not include each other;
# eval/network is part of the evaluation layer. A header named without a
# folder is one of the including file's own folder.
#
#   usage: tools/check_layers.sh [source root]    (default: src next to this script)
set -euo pipefail
root=${1:-"$(dirname "$0")/../src"}

layers=(
    "platform"
    "core"
    "board"
    "eval"
    "tt"
    "tablebase book"
    "search"
    "mcts"
    "control"
    "uci"
)

declare -A rank
for i in "${!layers[@]}"; do
    for folder in ${layers[$i]}; do rank[$folder]=$i; done
done

# The layer of a path relative to src/: its first folder.
layer_of() { echo "${1%%/*}"; }

status=0
while IFS= read -r file; do
    relative=${file#"$root"/}
    own=$(layer_of "$relative")
    if [ -z "${rank[$own]+x}" ]; then
        echo "$relative: folder '$own' is not in the layer list" >&2
        status=1
        continue
    fi
    while IFS= read -r line; do
        target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
        # Includes are written from src/ ("board/position.h"); a bare name is
        # a file of the same folder.
        [[ $target == */* ]] || continue
        other=$(layer_of "$target")
        [ -n "${rank[$other]+x}" ] || continue
        if [ "$other" != "$own" ] && [ "${rank[$other]}" -ge "${rank[$own]}" ]; then
            echo "$relative includes $target: '$own' may not include '$other'" >&2
            status=1
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find "$root" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

[ $status -eq 0 ] && echo "layers: every include points down"
exit $status
