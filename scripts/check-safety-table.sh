#!/usr/bin/env bash
# Every test docs/safety.md names (`Suite.Name`) must be a test of the build given, so that the
# table cannot go on citing a test that was renamed or removed. A test run once per backend
# (`Suite.Name/File`, `Suite.Name/Server`) is named without its backend.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:?usage: check-safety-table.sh BUILD_DIR}"
known="$(ctest --test-dir "$build" -N | sed -n 's/^ *Test *#[0-9]*: //p' | sed -E 's#/[A-Za-z0-9_]+( .*)?$##' | sort -u)"
named="$(grep -o '`[A-Z][A-Za-z0-9_]*\.[A-Z][A-Za-z0-9_]*`' "$here/docs/safety.md" | tr -d '`' | grep -vx "Suite.Name" | sort -u)"
missing=0
count=0
while read -r name; do
    [ -z "$name" ] && continue
    count=$((count + 1))
    if ! grep -qxF "$name" <<<"$known"; then
        echo "docs/safety.md names $name, which is no test of $build" >&2
        missing=$((missing + 1))
    fi
done <<<"$named"
echo "Safety table: $count tests named, $missing missing"
[ "$missing" -eq 0 ]
