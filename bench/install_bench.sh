#!/usr/bin/env bash
# Whole-process install benchmark. One package of about 100 MiB unpacked in about 2,000 files,
# taken from this machine's own shared libraries and header files, is installed onto tmpfs by
# the installer's default run; in the same run and on the same file system it is unpacked by
# the plain baseline program (bench/plain_install.cpp: read, SHA-1, inflate, write), by
# `tar -xzf` of the same tree and by `dpkg -i --root` of a .deb of it. Wall times are medians of
# RUNS runs; peak memory comes from /usr/bin/time -v, also for a package four times as large and
# for packages of the same bytes in 500 and 8,000 files (each file cut in four, or four joined).
#
#   bash bench/install_bench.sh            (BUILD_DIR=build, RUNS=5, needs root for tmpfs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
runs=${RUNS:-5}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target installer pkgtool plain_install >/dev/null
installer="$PWD/$build/src/installer"
pkgtool="$PWD/$build/tools/pkgtool"
plain="$PWD/$build/bench/plain_install"
[ -x /usr/bin/time ] || { echo "install_bench: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/install-bench.XXXXXX")
fs="$work/fs"
mkdir -p "$fs"
if [ "$(id -u)" -eq 0 ]; then
    mount -t tmpfs -o size=3g tmpfs "$fs"
    trap 'umount "$fs"; rm -rf "$work"' EXIT
else
    # Without root: /dev/shm is tmpfs on every Debian machine.
    fs=$(mktemp -d /dev/shm/install-bench.XXXXXX)
    trap 'rm -rf "$fs" "$work"' EXIT
fi

# The payload (see bench/payload.py).
python3 bench/payload.py "$work/tree"

# The package, one of the same files each four times as large, the tarball and the .deb.
printf 'name payload\nversion 6.40\nfiles tree\n' >"$work/payload.txt"
"$pkgtool" build "$work/payload.txt" -o "$fs/payload.npk" >/dev/null
cp -r "$work/tree" "$work/tree4"
find "$work/tree4" -type f | while read -r f; do cat "$f" "$f" "$f" "$f" >"$f.4" && mv "$f.4" "$f"; done
printf 'name payload\nversion 6.40\nfiles tree4\n' >"$work/payload4.txt"
"$pkgtool" build "$work/payload4.txt" -o "$fs/payload4.npk" >/dev/null
for count in 500 8000; do
    python3 - "$work/tree" "$work/tree$count" "$count" <<'PY2'
import os, sys
src, dest, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
paths = sorted(os.path.join(d, n) for d, _, ns in os.walk(src) for n in ns)
def put(rel, data):
    p = os.path.join(dest, rel)
    os.makedirs(os.path.dirname(p), exist_ok=True)
    open(p, "wb").write(data)
if count >= len(paths):
    k = count // len(paths)
    for p in paths:
        data = open(p, "rb").read()
        step = -(-len(data) // k)
        for i in range(k):
            put(os.path.relpath(p, src) + f".{i + 1}", data[i * step:(i + 1) * step])
else:
    k = len(paths) // count
    for i in range(0, len(paths), k):
        put(os.path.relpath(paths[i], src), b"".join(open(p, "rb").read() for p in paths[i:i + k]))
PY2
    printf 'name payload\nversion 6.40\nfiles tree%s\n' "$count" >"$work/payload$count.txt"
    "$pkgtool" build "$work/payload$count.txt" -o "$fs/payload$count.npk" >/dev/null
done
tar -czf "$fs/payload.tar.gz" -C "$work/tree" .
mkdir -p "$work/deb/DEBIAN"
cp -r "$work/tree/." "$work/deb/"
printf 'Package: payload\nVersion: 6.40\nArchitecture: all\nMaintainer: bench <bench@localhost>\nDescription: benchmark payload\n' >"$work/deb/DEBIAN/control"
dpkg_ok=1
dpkg-deb -Zgzip --build "$work/deb" "$fs/payload.deb" >/dev/null 2>&1 || dpkg_ok=0
ls -l "$fs"/payload.* | awk '{printf "%-40s %8.1f MiB\n", $NF, $5 / 1048576}'

# Runs one command; prints "wall-us peak-KiB cpu-us sys-us" (cpu = user + system).
measure() {
    local t0 t1
    t0=$(date +%s%N)
    /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || {
        echo "failed: $*" >&2; cat "$work/err.txt" >&2; return 1; }
    t1=$(date +%s%N)
    local rss
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    local cpu
    cpu=$(awk -F': ' '/User time/ {u = $2} /System time/ {s = $2}
        END {printf "%d %d", (u + s) * 1e6, s * 1e6}' "$work/time.txt")
    echo "$(( (t1 - t0) / 1000 ))" "$rss" "$cpu"
}
fresh_root() {
    rm -rf "$fs/root" "$fs/out" "$fs/droot"
    mkdir -p "$fs/root/flash/rw/pckg" "$fs/root/ram" "$fs/root/flash/var/pdb"
    ln "$1" "$fs/root/flash/rw/pckg/payload.npk"
    mkdir -p "$fs/droot/var/lib/dpkg/info" "$fs/droot/var/lib/dpkg/updates"
    touch "$fs/droot/var/lib/dpkg/status"
}
run_installer() { fresh_root "$fs/$1"; measure "$installer" -q -r "$fs/root"; }
run_plain() { fresh_root "$fs/$1"; measure "$plain" "$fs/$1" "$fs/out"; }
run_tar() { fresh_root "$fs/payload.npk"; mkdir -p "$fs/out"; measure tar -xzf "$fs/payload.tar.gz" -C "$fs/out"; }
run_dpkg() {
    fresh_root "$fs/payload.npk"
    measure dpkg --root="$fs/droot" --force-not-root --force-script-chrootless -i "$fs/payload.deb"
}

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
declare -A wall rss cpu sys
for tool in installer plain tar dpkg; do
    [ "$tool" = dpkg ] && [ "$dpkg_ok" = 0 ] && continue
    : >"$work/$tool.txt"
done
for _ in $(seq "$runs"); do
    # Interleaved, so that drift of the machine touches every tool alike.
    run_installer payload.npk >>"$work/installer.txt"
    run_plain payload.npk >>"$work/plain.txt"
    run_tar >>"$work/tar.txt"
    if [ "$dpkg_ok" = 1 ]; then run_dpkg >>"$work/dpkg.txt" || dpkg_ok=0; fi
done
for tool in installer plain tar dpkg; do
    [ -s "$work/$tool.txt" ] || continue
    wall[$tool]=$(cut -d' ' -f1 "$work/$tool.txt" | median)
    rss[$tool]=$(cut -d' ' -f2 "$work/$tool.txt" | median)
    cpu[$tool]=$(cut -d' ' -f3 "$work/$tool.txt" | median)
    sys[$tool]=$(cut -d' ' -f4 "$work/$tool.txt" | median)
done
# Where the time goes: the system calls of one run of each, counted by strace, and where the
# CPU time is spent by shared object, sampled by perf when it is there.
trace() {
    local name=$1
    shift
    fresh_root "$fs/payload.npk"
    strace -f -c -o "$work/$name.calls" "$@" >/dev/null 2>&1 || return 0
    command -v perf >/dev/null || return 0
    fresh_root "$fs/payload.npk"
    perf record -q -o "$work/$name.perf" "$@" >/dev/null 2>&1 || return 0
    perf report -q -i "$work/$name.perf" --sort dso --percent-limit 0.5 2>/dev/null \
        | awk -v t="$name" 'NF == 2 {sub("%", "", $1); print "profile:", t, $2, $1}' >>"$work/profile.txt"
}
: >"$work/profile.txt"
if command -v strace >/dev/null; then
    trace installer "$installer" -q -r "$fs/root"
    trace plain "$plain" "$fs/payload.npk" "$fs/out"
fi

# Peak memory against the number of files, the bytes staying the same: medians of RUNS runs.
declare -A files_kib files_plain
for pkg in payload500 payload payload8000; do
    : >"$work/$pkg.kib"
    : >"$work/$pkg.plain"
    for _ in $(seq "$runs"); do
        run_installer "$pkg.npk" | cut -d' ' -f2 >>"$work/$pkg.kib"
        run_plain "$pkg.npk" | cut -d' ' -f2 >>"$work/$pkg.plain"
    done
    files_kib[$pkg]=$(median <"$work/$pkg.kib")
    files_plain[$pkg]=$(median <"$work/$pkg.plain")
done
big_installer=$(run_installer payload4.npk | cut -d' ' -f2)
big_plain=$(run_plain payload4.npk | cut -d' ' -f2)
# The installed files match the tree.
fresh_root "$fs/payload.npk"
"$installer" -q -r "$fs/root" >/dev/null
diff -r "$work/tree" "$fs/root/flash" -x var -x rw -x postlog -x PCKGS_CHANGED >/dev/null \
    && echo "installed tree matches the payload" || echo "WARNING: installed tree differs"

mib=$(du -sb "$work/tree" | awk '{print $1 / 1048576}')
echo
printf '%-10s %10s %10s %10s %10s %10s\n' tool "wall ms" "MB/s" "vs plain" "cpu ms" "peak KiB"
for tool in installer plain tar dpkg; do
    [ -n "${wall[$tool]:-}" ] || continue
    awk -v t="$tool" -v us="${wall[$tool]}" -v base="${wall[plain]}" -v kib="${rss[$tool]}" -v mib="$mib" \
        -v c="${cpu[$tool]}" \
        'BEGIN {printf "%-10s %10.1f %10.1f %9.3fx %10.1f %10d\n", t, us / 1000, mib * 1.048576 / (us / 1e6), us / base, c / 1000, kib}'
done
[ "$dpkg_ok" = 1 ] || echo "dpkg: not measured (the .deb could not be built or installed here)"
echo
awk -v a="${rss[installer]}" -v b="${rss[plain]}" \
    'BEGIN {printf "peak memory, 1x package: installer %d KiB, plain %d KiB, ratio %.3f (target <= 1.15)\n", a, b, a / b}'
awk -v a="$big_installer" -v b="$big_plain" -v a1="${rss[installer]}" \
    'BEGIN {printf "peak memory, 4x package: installer %d KiB (%+d KiB against 1x; target within 1024), plain %d KiB\n", a, a - a1, b}'
awk -v a="${wall[installer]}" -v b="${wall[plain]}" -v ca="${cpu[installer]}" -v cb="${cpu[plain]}" \
    'BEGIN {printf "wall time: installer / plain = %.3f (target <= 1.05); cpu time: %.3f\n", a / b, ca / cb}'
awk -v a="${sys[installer]}" -v b="${sys[plain]}" -v ca="${cpu[installer]}" -v cb="${cpu[plain]}" \
    'BEGIN {printf "cpu split: installer user %.1f ms system %.1f ms, plain user %.1f ms system %.1f ms\n", (ca - a) / 1000, a / 1000, (cb - b) / 1000, b / 1000}'
if [ -s "$work/installer.calls" ] && [ -s "$work/plain.calls" ]; then
    # strace -c: "% time  seconds  usecs/call  calls  [errors]  syscall"; the total line last.
    count() { awk '$NF != "total" && $4 ~ /^[0-9]+$/ {print $NF, $4}' "$1"; }
    join -a1 -a2 -e0 -o 0,1.2,2.2 <(count "$work/installer.calls" | sort) \
        <(count "$work/plain.calls" | sort) | sort -k2,2nr \
        | awk '$2 + $3 >= 3 {print "system calls:", $1, $2, $3}'
fi
cat "$work/profile.txt"
for pkg in payload500 payload payload8000; do
    printf 'peak memory by files: %s files installer %d KiB, plain %d KiB\n' \
        "$(find "$work/tree${pkg#payload}" -type f | wc -l)" "${files_kib[$pkg]}" "${files_plain[$pkg]}"
done
awk -v a="${files_kib[payload500]}" -v b="${files_kib[payload8000]}" \
    -v n500="$(find "$work/tree500" -type f | wc -l)" -v n8000="$(find "$work/tree8000" -type f | wc -l)" \
    'BEGIN {printf "peak memory growth per file, 500 to 8000 files: %.1f bytes (target <= 64)\n", (b - a) * 1024 / (n8000 - n500)}'
