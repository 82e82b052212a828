#!/usr/bin/env bash
# The demo: what the build has made so far, run on a built-in sample.
set -euo pipefail
BUILD=${1:-build}
echo "Built in $BUILD:"
for f in "$BUILD"/src/platform/libmfplat.so "$BUILD"/tests/platform_tests "$BUILD"/tests/support_tests; do
    [ -e "$f" ] && echo "  $f"
done
echo "Platform and support suites:"
"$BUILD"/tests/platform_tests --gtest_brief=1 | tail -n 1
"$BUILD"/tests/support_tests --gtest_brief=1 | tail -n 1
