#!/bin/sh
# The alert and recording rules: promtool's syntax check and the unit tests
# beside them.
#   prometheus_rules_test.sh DIR
set -eu
dir=$1
if ! command -v promtool >/dev/null 2>&1; then
    echo "SKIP: promtool is not installed (package prometheus)"
    exit 77
fi
promtool check rules "$dir/vorn-spoa.rules.yml"
cd "$dir" && promtool test rules vorn-spoa.rules.test.yml
