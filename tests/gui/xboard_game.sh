#!/usr/bin/env bash
# A real front-end plays a real game: XBoard, through its PolyGlot adapter,
# runs one short game of the engine against itself with pondering on, inside
# a virtual X server. Fails when the game does not finish with a result or
# when XBoard's log shows a complaint about either engine (an illegal move, a
# protocol error, a lost time forfeit, a crash).
#
#   tests/gui/xboard_game.sh ENGINE
#
# Exits 77 (skipped) when xboard, polyglot or xvfb-run is not installed.
set -u
engine=${1:?usage: xboard_game.sh ENGINE}
export PATH=/usr/games:$PATH
for tool in xboard polyglot xvfb-run; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed (Debian packages xboard, polyglot, xvfb)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# PolyGlot keeps per-engine settings under $HOME; keep them out of the real one.
export HOME=$work

timeout 300 xvfb-run -a xboard \
    -fcp "$engine" -fUCI -scp "$engine" -sUCI \
    -mm -mg 1 -tc 0:05 -inc 0.1 -ponderNextMove true \
    -adjudicateLossThreshold -700 -popupExitMessage false \
    -sgf game.pgn -debug -nameOfDebugFile xboard.debug >xboard.out 2>&1
status=$?
if [ $status -ne 0 ]; then
    echo "FAIL: xboard exited with status $status"
    tail -n 20 xboard.out
    exit 1
fi
if ! grep -Eq '(1-0|0-1|1/2-1/2) *$' game.pgn; then
    echo "FAIL: the game has no result"
    tail -n 20 game.pgn
    exit 1
fi
if ! grep -q '>first : hard' xboard.debug; then
    echo "FAIL: pondering was not switched on"
    exit 1
fi
# Lines the engines (through PolyGlot) sent and XBoard's own verdicts.
complaints=$(grep -Ei 'illegal|error|unknown command|forfeit|exited unexpectedly|terminated|protocol' xboard.debug |
    grep -v 'feature option=' | head -n 20)
if [ -n "$complaints" ]; then
    echo "FAIL: XBoard's log has complaints:"
    echo "$complaints"
    exit 1
fi
result=$(grep -Eo '(1-0|0-1|1/2-1/2) *$' game.pgn | tail -n 1)
echo "ok: one game with pondering, result $result, $(grep -c '^[0-9]*\.' game.pgn) lines of moves"
exit 0
