#!/usr/bin/env bash
# Does a weakened engine still mate a bare king? For each level given, plays
# the engine at that level ("UCI LimitStrength", "UCI Elo" = 100 x level,
# "Skill Time" 0) against itself at full strength from king and queen or king
# and rook against king (tools/data/lone_king.epd), each position twice with
# colours swapped, and prints how many of the games in which the weak side
# had the material it won.
#
#   tools/weak_level_mates.sh [--engine build/sable] [--tc 10+0.1] LEVEL...
#
# Needs the match tool (../shared/tools/match) installed at $MATCH_DIR
# (default /tmp/match; see its README).
set -euo pipefail
cd "$(dirname "$0")/.."
engine=build/sable
tc=10+0.1
levels=()
while [ $# -gt 0 ]; do
    case "$1" in
        --engine) engine=$2; shift 2 ;;
        --tc) tc=$2; shift 2 ;;
        *) levels+=("$1"); shift ;;
    esac
done
match=${MATCH_DIR:-/tmp/match}/match.js
[ -f "$match" ] || { echo "match tool not found at $match" >&2; exit 1; }
[ ${#levels[@]} -gt 0 ] || levels=(5 10 15 20 25 30 35)
openings=tools/data/lone_king.epd
count=$(grep -c . "$openings")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for level in "${levels[@]}"; do
    node "$match" \
        --engine "cmd=$engine,name=weak,option.UCI LimitStrength=true,option.UCI Elo=$((level * 100)),option.Skill Time=0" \
        --engine "cmd=$engine,name=full" \
        --each option.Threads=1,option.Hash=16 --tc "$tc" --games $((2 * count)) \
        --openings "$openings" --order sequential --concurrency 1 --pgn "$work/games.pgn" >"$work/log" 2>&1 || true
    # The weak engine is White in the odd games (it had the material there).
    won=$(awk '/^\[White "weak"\]/ {w=1} /^\[White "full"\]/ {w=0} /^\[Result "1-0"\]/ {if (w) n++} END {print n+0}' "$work/games.pgn")
    faults=$(grep -o "faults: .*" "$work/log" | head -1)
    echo "level $level: mated in $won of $count games with the material (weak side $faults)"
done
