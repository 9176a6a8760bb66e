#!/bin/sh
# make install into a staging folder (DESTDIR), the tree it makes, the
# installed programs and service files, then make uninstall.
#   install_tree_test.sh BUILD SOURCE HAVE_RECEIPT HAVE_GATE
set -eu
build=$1 source=$2 have_receipt=$3 have_gate=$4

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_file() { [ -f "$1" ] || fail "missing $1"; }
expect_program() { [ -x "$1" ] && [ -f "$1" ] || fail "missing program $1"; }
expect_none() { [ ! -e "$1" ] || fail "unexpected $1"; }

work=$(mktemp -d)
manifest="$build/install_manifest.txt"
# The test's install must not replace the manifest of a real make install,
# which make uninstall reads.
[ -f "$manifest" ] && cp "$manifest" "$work/manifest.saved"
restore() {
    if [ -f "$work/manifest.saved" ]; then cp "$work/manifest.saved" "$manifest"; else rm -f "$manifest"; fi
    rm -rf "$work"
}
trap restore EXIT

cache_value() { sed -n "s|^$1:[A-Z]*=||p" "$build/CMakeCache.txt"; }
prefix=$(cache_value CMAKE_INSTALL_PREFIX)
unit_dir=$(cache_value VORN_SYSTEMD_UNIT_DIR)
rcd_dir=$(cache_value VORN_RCD_DIR)
dest="$work/stage"
DESTDIR="$dest" cmake --install "$build" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
root="$dest$prefix"
echo "installed under $root"

expect_program "$root/sbin/vorn-spoa"
expect_file "$root/share/man/man8/vorn-spoa.8"
if [ "$have_receipt" = 1 ]; then
    expect_program "$root/bin/vorn-receipt"
    expect_file "$root/share/man/man1/vorn-receipt.1"
else
    expect_none "$root/bin/vorn-receipt"
fi
[ "$have_gate" = 1 ] || fail "the build has no vorn-gate"
expect_program "$root/sbin/vorn-gate"
expect_file "$root/share/man/man8/vorn-gate.8"
examples="$root/share/vorn-spoa"
for f in haproxy/haproxy.cfg haproxy/vorn-spoe.conf haproxy/README.md \
         haproxy/trusted-balancers.lst haproxy/verified-crawlers.map \
         prometheus/vorn-spoa.rules.yml prometheus/vorn-spoa.rules.test.yml \
         grafana/vorn-spoa.json systemd/vorn-spoa.service systemd/vorn-spoa.default \
         systemd/vorn-gate.service systemd/vorn-gate.default; do
    expect_file "$examples/$f"
done
expect_program "$examples/freebsd/vorn_spoa"
expect_program "$examples/freebsd/vorn_gate"

# The service files name the daemon where it was installed.
case $unit_dir in
    "") ;;
    /*) unit="$dest$unit_dir/vorn-spoa.service" ;;
    *) unit="$root/$unit_dir/vorn-spoa.service" ;;
esac
if [ -n "$unit_dir" ]; then
    expect_file "$unit"
    grep -q "^ExecStart=$prefix/sbin/vorn-spoa " "$unit" || fail "$unit does not start $prefix/sbin/vorn-spoa"
    gate_unit="$(dirname "$unit")/vorn-gate.service"
    expect_file "$gate_unit"
    grep -q "^ExecStart=$prefix/sbin/vorn-gate " "$gate_unit" ||
        fail "$gate_unit does not start $prefix/sbin/vorn-gate"
fi
grep -q "^vorn_spoa_program=$prefix/sbin/vorn-spoa\$" "$examples/freebsd/vorn_spoa" ||
    fail "the rc.d script does not run $prefix/sbin/vorn-spoa"
grep -q "^vorn_gate_program=$prefix/sbin/vorn-gate\$" "$examples/freebsd/vorn_gate" ||
    fail "the gate's rc.d script does not run $prefix/sbin/vorn-gate"
[ -z "$rcd_dir" ] || expect_program "$root/$rcd_dir/vorn_spoa"
[ -z "$rcd_dir" ] || expect_program "$root/$rcd_dir/vorn_gate"

# The installed daemon is the daemon: a bad argument gets its error lines.
if "$root/sbin/vorn-spoa" --no-such-option=1 2>"$work/err"; then fail "the daemon accepted --no-such-option"; fi
grep -q 'level=error msg="unknown argument: --no-such-option=1"' "$work/err" ||
    fail "unexpected output of the installed daemon: $(cat "$work/err")"

# Every option of the man page is one the daemon knows, and there are
# eighteen. Each is given a value and followed by an unknown argument, so
# that the run always stops before starting.
options=$(sed -n 's/^\.Op Fl -\([a-z-]*\) Ns = .*/\1/p' "$source/man/vorn-spoa.8")
count=$(echo "$options" | wc -w)
[ "$count" -eq 18 ] || fail "the man page's synopsis has $count options, not 18"
for option in $options; do
    "$root/sbin/vorn-spoa" "--$option=@" --zz-unknown 2>"$work/err" && fail "--$option=@ started the daemon"
    if grep -q "unknown argument: --$option=" "$work/err"; then fail "the daemon does not know --$option"; fi
done

# The rc.d script turns each rc.conf variable into its option, and only the
# socket's when none is set. rc.subr is replaced by a stand-in that prints
# the command it would run.
cat >"$work/rc.subr" <<'STUB'
load_rc_config() { :; }
check_pidfile() { :; }
run_rc_command() { echo "$command $command_args"; }
STUB
sed "s|^\. /etc/rc.subr\$|. $work/rc.subr|" "$examples/freebsd/vorn_spoa" >"$work/vorn_spoa"
sh -n "$work/vorn_spoa" || fail "the rc.d script does not parse"
plain=$(sh "$work/vorn_spoa" start)
case $plain in
    "/usr/sbin/daemon -f -R 2 -P /var/run/vorn_spoa.pid -p /var/run/vorn_spoa.child.pid -S -T vorn-spoa -u vorn_spoa $prefix/sbin/vorn-spoa --socket=/var/run/vorn-spoa/vorn-spoa.sock"*) ;;
    *) fail "rc.d script with defaults runs: $plain" ;;
esac
settings="" i=0
for option in $options; do
    i=$((i + 1))
    settings="$settings vorn_spoa_$(echo "$option" | tr - _)=value$i"
done
full=$(env $settings vorn_spoa_args=--extra sh "$work/vorn_spoa" start)
i=0
for option in $options; do
    i=$((i + 1))
    case $full in *" --$option=value$i "*) ;; *) fail "rc.d script does not pass --$option: $full" ;; esac
done
case $full in *" --extra") ;; *) fail "rc.d script does not append vorn_spoa_args: $full" ;; esac

# The gate likewise: every option of its man page is one it knows (there
# are ten), and its rc.d script passes each rc.conf variable as one
# argument, spaces and all (rc.subr runs the command through eval, as the
# stand-in does).
gate_options=$(sed -n 's/^\.Op Fl -\([a-z-]*\) Ns = .*/\1/p' "$source/man/vorn-gate.8")
count=$(echo "$gate_options" | wc -w)
[ "$count" -eq 10 ] || fail "the gate's man page has $count options, not 10"
for option in $gate_options; do
    "$root/sbin/vorn-gate" "--$option=@" --zz-unknown 2>"$work/err" && fail "--$option=@ started the gate"
    if grep -q "unknown option --$option\"" "$work/err"; then fail "the gate does not know --$option"; fi
    grep -q 'level=error msg=InvalidArgument' "$work/err" || fail "the gate's error lines: $(cat "$work/err")"
done
cat >"$work/rc.gate.subr" <<'STUB'
load_rc_config() { :; }
check_pidfile() { :; }
run_rc_command() { eval "set -- $command $command_args"; for word; do printf '[%s]' "$word"; done; echo; }
STUB
sed "s|^\. /etc/rc.subr\$|. $work/rc.gate.subr|" "$examples/freebsd/vorn_gate" >"$work/vorn_gate"
sh -n "$work/vorn_gate" || fail "the gate's rc.d script does not parse"
plain=$(sh "$work/vorn_gate" start)
[ "$plain" = "[/usr/sbin/daemon][-f][-R][2][-P][/var/run/vorn_gate.pid][-p][/var/run/vorn_gate.child.pid][-S][-T][vorn-gate][-u][vorn_gate][$prefix/sbin/vorn-gate]" ] ||
    fail "the gate's rc.d script with defaults runs: $plain"
full=$(vorn_gate_site_name="Example forge" vorn_gate_contact=mailto:ops@forge.example \
    vorn_gate_nonce_ttl=60 vorn_gate_args=--extra sh "$work/vorn_gate" start)
case $full in
    *"[$prefix/sbin/vorn-gate][--nonce-ttl=60][--site-name=Example forge][--contact=mailto:ops@forge.example][--extra]") ;;
    *) fail "the gate's rc.d script runs: $full" ;;
esac

# make uninstall removes every file it installed and our folders.
DESTDIR="$dest" cmake "-DMANIFEST=$manifest" -P "$source/deploy/uninstall.cmake" >"$work/uninstall.log" 2>&1 ||
    { cat "$work/uninstall.log"; fail "uninstall failed"; }
left=$(find "$dest" -type f -o -type l)
[ -z "$left" ] || fail "left after uninstall: $left"
expect_none "$examples"

if [ "$failures" -gt 0 ]; then echo "$failures failures"; exit 1; fi
echo "install tree: all checks passed"
