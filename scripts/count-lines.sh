#!/usr/bin/env bash
# Counts non-blank, non-comment lines of C and C++ code in src/ and tests/
# and prints their ratio (tests over code). bench/, fuzz/ and tests/data/ (the fixtures and
# the tool that makes them) count as neither.
# Usage: scripts/count-lines.sh [-v]   (-v also lists every file)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

find src tests -path tests/data -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) \
    -print0 | sort -z |
    xargs -0 awk -v verbose="$([[ ${1:-} == -v ]] && echo 1 || echo 0)" '
        { line = $0; top = substr(FILENAME, 1, index(FILENAME, "/") - 1) }
        inBlock { if (line !~ /\*\//) next; inBlock = 0; sub(/^.*\*\//, "", line) }
        line ~ /^[ \t]*\/\*/ && line !~ /\*\// { inBlock = 1; next }
        line ~ /^[ \t]*(\/\*.*\*\/[ \t]*|\/\/.*)?$/ { next }
        { perFile[FILENAME]++; perTop[top]++ }
        END {
            if (verbose) for (f in perFile) printf "%6d %s\n", perFile[f], f | "sort -k2"
            close("sort -k2")
            printf "src %d, tests %d, ratio %.3f\n", perTop["src"], perTop["tests"],
                   perTop["tests"] / perTop["src"]
        }'
