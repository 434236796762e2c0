#!/usr/bin/env bash
# The short bounded fuzzing run of the test command: FUZZER [RUNS]. Findings are written to a scratch
# folder and named in the output; exit 0 means none.
set -eu
fuzzer=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
runs=${2:-20000}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$fuzzer" -runs="$runs" -max_len=8192 -artifact_prefix="$scratch/" "$(dirname "$fuzzer")/corpus"
