#!/usr/bin/env bash
# What the power-cut safety of a commit costs. The install benchmark's package (about 100 MiB in
# about 2,000 files) is installed by the installer's default run with its syncs (the data sync,
# the journal and its directory, the final sync) and without them (bench/nosync_shim.c, preloaded,
# turns every sync call into a no-op), on tmpfs and on ext4 in a loop file; in the same run and
# on the same file systems `dpkg -i --root` of a .deb of the same tree, which fsyncs every file,
# with and without its syncs too. Wall and CPU (user + system) times are medians of RUNS
# interleaved runs; the ratios are of wall times, against the installer without syncs on the same
# file system. On a busy machine the CPU times show what the run itself spent.
#
#   bash bench/journal_bench.sh            (BUILD_DIR=build, RUNS=5; needs root for the mounts)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
runs=${RUNS:-5}
# Without what it needs it says so and measures nothing, so that bench-all goes on.
[ "$(id -u)" -eq 0 ] || { echo "journal_bench: needs root (tmpfs and loop mounts)"; exit 0; }
[ -x /usr/bin/time ] || { echo "journal_bench: /usr/bin/time is missing (apt-get install time)"; exit 0; }
command -v mkfs.ext4 >/dev/null || { echo "journal_bench: mkfs.ext4 is missing (e2fsprogs)"; exit 0; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target installer pkgtool >/dev/null
installer="$PWD/$build/src/installer"
pkgtool="$PWD/$build/tools/pkgtool"

work=$(mktemp -d "${TMPDIR:-/var/tmp}/journal-bench.XXXXXX")
mkdir -p "$work/tmpfs" "$work/ext4"
cleanup() {
    umount "$work/tmpfs" 2>/dev/null || true
    umount "$work/ext4" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cc -O2 -shared -fPIC -o "$work/nosync.so" bench/nosync_shim.c
mount -t tmpfs -o size=1g tmpfs "$work/tmpfs"
# The loop file lies on the machine's own disk (the work directory), as a router's flash would
# be its own device.
truncate -s 1G "$work/ext4.img"
mkfs.ext4 -q -F "$work/ext4.img"
mount -o loop "$work/ext4.img" "$work/ext4"

# The payload (see bench/payload.py).
python3 bench/payload.py "$work/tree"
printf 'name payload\nversion 6.40\nfiles tree\n' >"$work/payload.txt"
"$pkgtool" build "$work/payload.txt" -o "$work/payload.npk" >/dev/null
mkdir -p "$work/deb/DEBIAN"
cp -r "$work/tree/." "$work/deb/"
printf 'Package: payload\nVersion: 6.40\nArchitecture: all\nMaintainer: bench <bench@localhost>\nDescription: benchmark payload\n' >"$work/deb/DEBIAN/control"
dpkg_ok=1
dpkg-deb -Zgzip --build "$work/deb" "$work/payload.deb" >/dev/null 2>&1 || dpkg_ok=0
for fs in tmpfs ext4; do
    cp "$work/payload.npk" "$work/$fs/payload.npk"
    [ "$dpkg_ok" = 1 ] && cp "$work/payload.deb" "$work/$fs/payload.deb"
done
sync

# Runs one command on a fresh root of file system $1 ("sync" or "nosync" in $2); prints the
# wall and CPU times in microseconds. What earlier runs left is written back before the clock
# starts.
run() {
    local fs=$1 mode=$2 tool=$3 dir="$work/$1" t0 t1
    rm -rf "$dir/root" "$dir/droot"
    mkdir -p "$dir/root/flash/rw/pckg" "$dir/root/ram" "$dir/root/flash/var/pdb"
    ln "$dir/payload.npk" "$dir/root/flash/rw/pckg/payload.npk"
    mkdir -p "$dir/droot/var/lib/dpkg/info" "$dir/droot/var/lib/dpkg/updates"
    touch "$dir/droot/var/lib/dpkg/status"
    sync
    local wrap=(/usr/bin/time -f "%U %S" -o "$work/cpu.txt")
    [ "$mode" = nosync ] && wrap+=(env "LD_PRELOAD=$work/nosync.so")
    t0=$(date +%s%N)
    if [ "$tool" = installer ]; then
        "${wrap[@]}" "$installer" -q -r "$dir/root" >/dev/null 2>"$work/err.txt"
    else
        "${wrap[@]}" dpkg --root="$dir/droot" --force-not-root --force-script-chrootless \
            -i "$dir/payload.deb" >/dev/null 2>"$work/err.txt"
    fi || { echo "failed: $fs $mode $tool" >&2; cat "$work/err.txt" >&2; return 1; }
    t1=$(date +%s%N)
    echo $(( (t1 - t0) / 1000 )) "$(awk '{printf "%d", ($1 + $2) * 1e6}' "$work/cpu.txt")"
}
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

tools=(installer)
[ "$dpkg_ok" = 1 ] && tools+=(dpkg)
for _ in $(seq "$runs"); do
    # Interleaved, so that drift of the machine touches every variant alike.
    for fs in tmpfs ext4; do
        for tool in "${tools[@]}"; do
            for mode in sync nosync; do
                run "$fs" "$mode" "$tool" >>"$work/$fs-$tool-$mode.txt"
            done
        done
    done
done
# The journal is gone after a commit, and the installed tree is the payload.
run ext4 sync installer >/dev/null
[ -e "$work/ext4/root/flash/var/pdb/.journal" ] && echo "WARNING: the journal was left behind"
diff -r "$work/tree" "$work/ext4/root/flash" -x var -x rw -x postlog -x PCKGS_CHANGED >/dev/null \
    && echo "installed tree matches the payload" || echo "WARNING: installed tree differs"

echo
printf '%-6s %-10s %-7s %10s %12s %10s\n' fs tool syncs "wall ms" "vs baseline" "cpu ms"
wall() { cut -d' ' -f1 "$work/$1.txt" | median; }
cpu() { cut -d' ' -f2 "$work/$1.txt" | median; }
for fs in tmpfs ext4; do
    base=$(wall "$fs-installer-nosync")
    for tool in "${tools[@]}"; do
        for mode in sync nosync; do
            awk -v f="$fs" -v t="$tool" -v m="$mode" -v us="$(wall "$fs-$tool-$mode")" -v b="$base" \
                -v c="$(cpu "$fs-$tool-$mode")" \
                'BEGIN {printf "%-6s %-10s %-7s %10.1f %11.3fx %10.1f\n", f, t, (m == "sync" ? "yes" : "no"), us / 1000, us / b, c / 1000}'
        done
    done
done
echo
for fs in tmpfs ext4; do
    awk -v f="$fs" -v a="$(wall "$fs-installer-sync")" -v b="$(wall "$fs-installer-nosync")" \
        'BEGIN {printf "journal and syncs on %s: %+.1f%% of the installer'"'"'s wall time\n", f, (a / b - 1) * 100}'
done
