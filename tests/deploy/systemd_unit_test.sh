#!/bin/sh
# Both units as make install writes them, checked by systemd-analyze:
# verify must have nothing to say, and security must rate each one's
# exposure 2.0 or less.
#   systemd_unit_test.sh BUILD
set -eu
build=$1
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "SKIP: systemd-analyze is not installed (systemd hosts only)"
    exit 77
fi
unit_dir=$(sed -n 's|^VORN_SYSTEMD_UNIT_DIR:[A-Z]*=||p' "$build/CMakeCache.txt")
if [ -z "$unit_dir" ]; then
    echo "SKIP: this build installs no systemd unit (VORN_SYSTEMD_UNIT_DIR is empty)"
    exit 77
fi
prefix=$(sed -n 's|^CMAKE_INSTALL_PREFIX:[A-Z]*=||p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A copy of each unit whose ExecStart names the staged program, so that
# systemd-analyze finds an executable there.
check_unit() {
    program=$1
    unit="$build/deploy/systemd/$program.service"
    mkdir -p "$work/system$prefix/sbin"
    cp "$build/$program" "$work/system$prefix/sbin/$program"
    sed "s|^ExecStart=$prefix/sbin/$program |ExecStart=$work/system$prefix/sbin/$program |" "$unit" \
        >"$work/$program.service"
    grep -q "^ExecStart=$work/" "$work/$program.service" || { echo "FAIL: no ExecStart=$prefix/sbin/$program in $unit"; exit 1; }
    # --man=no: the man page is not installed on this host.
    if ! systemd-analyze verify --man=no "$work/$program.service" >"$work/out" 2>&1; then
        cat "$work/out"
        echo "FAIL: systemd-analyze verify $program.service"
        exit 1
    fi
    # verify also passes with warnings about unknown or misplaced settings.
    if [ -s "$work/out" ]; then
        cat "$work/out"
        echo "FAIL: systemd-analyze verify had something to say about $program.service"
        exit 1
    fi
    # Everything the hardening promises is in force in the parsed unit.
    systemd-analyze security --offline=yes --threshold=20 --no-pager "$work/$program.service" >"$work/security" 2>&1 || {
        cat "$work/security"
        echo "FAIL: systemd-analyze security rates $program.service's exposure above 2.0 (lower is better)"
        exit 1
    }
    echo "$program.service: $(tail -n 1 "$work/security")"
}
check_unit vorn-spoa
check_unit vorn-gate
echo "systemd units: verified"
