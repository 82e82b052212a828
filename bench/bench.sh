#!/usr/bin/env bash
# Benchmarks: nothing to measure until the source can open and play files.
set -euo pipefail
echo "bench: no benchmarks yet"
