#!/usr/bin/env bash
# Bytes written to /flash by one run against the least a run must write: the unpacked files,
# the package's database files and, when the run has to write it, the kept image. A package of
# this machine's OpenSSL headers (about 1.7 MiB in 130 files), with and without a 1 MiB image
# chunk, is installed by the default run (uploaded to /flash/rw/pckg/, so a kept image arrives by
# rename) and by stream mode (standard input, so the image is the stream copy). Every write
# system call of the run is counted by strace and sorted by the file it went to.
#
#   bash bench/flash_writes.sh            (BUILD_DIR=build; needs strace)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target installer pkgtool >/dev/null
installer="$PWD/$build/src/installer"
pkgtool="$PWD/$build/tools/pkgtool"
command -v strace >/dev/null \
    || { echo "flash_writes: strace is missing (apt-get install strace)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/flash-writes.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/usr/include"
cp -r /usr/include/openssl "$work/tree/usr/include/"
printf 'name payload\nversion 6.40\nfiles tree\n' >"$work/plain.txt"
printf 'name payload\nversion 6.40\nfiles tree\nimage size 1048576\n' >"$work/image.txt"
"$pkgtool" build "$work/plain.txt" -o "$work/plain.npk" >/dev/null
"$pkgtool" build "$work/image.txt" -o "$work/image.npk" >/dev/null
unpacked=$(find "$work/tree" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
echo "payload: $(find "$work/tree" -type f | wc -l) files, $unpacked bytes unpacked;" \
    "packages $(stat -c %s "$work/plain.npk") and $(stat -c %s "$work/image.npk") bytes"

traced() {  # traced <trace file> <installer args...>
    local out=$1
    shift
    strace -f -y -qq -o "$out" \
        -e trace=write,writev,pwrite64,pwritev,pwritev2,copy_file_range,sendfile,splice \
        "$installer" -q -r "$work/root" "$@" >/dev/null
}
printf '%-8s %-6s %10s %10s %10s %10s %10s %10s %10s %8s\n' mode image written unpacked \
    database "image" "stream" other least ratio
for mode in default stream; do
    for kind in plain image; do
        rm -rf "$work/root"
        mkdir -p "$work/root/flash/rw/pckg" "$work/root/ram" "$work/root/flash/var/pdb"
        if [ "$mode" = default ]; then
            cp "$work/$kind.npk" "$work/root/flash/rw/pckg/payload.npk"
            traced "$work/trace.txt"
        else
            traced "$work/trace.txt" - <"$work/$kind.npk"
        fi
        # The database files that stay, and the image the run had to write (stream mode only:
        # the default run renames the uploaded file into place).
        database=$(find "$work/root/flash/var/pdb/payload" -type f ! -name image -printf '%s\n' \
            | awk '{s += $1} END {print s + 0}')
        image=0
        [ "$mode" = stream ] && [ "$kind" = image ] && image=$(stat -c %s "$work/image.npk")
        python3 - "$work/trace.txt" "$work/root" "$mode" "$kind" "$unpacked" "$database" \
            "$image" <<'PY'
import re, sys
trace, root, mode, kind, unpacked, database, image = sys.argv[1:8]
unpacked, database, image = int(unpacked), int(database), int(image)
# "pid call(fd<path>, ...) = n"; copy_file_range writes to its third argument.
call = re.compile(r"^\d+\s+(\w+)\((.*)\)\s+=\s+(\d+)")
fd = re.compile(r"\d+<([^>]*)>")
sums = {"unpacked": 0, "database": 0, "image": 0, "stream": 0, "other": 0}
for line in open(trace):
    m = call.match(line)
    if not m:
        continue
    paths = fd.findall(m[2])
    if not paths:
        continue
    path = paths[2] if m[1] == "copy_file_range" and len(paths) > 2 else paths[0]
    if not path.startswith(root + "/flash/"):
        continue
    rel = path[len(root):]
    if rel == "/flash/var/pdb/.stream-image":
        key = "stream"
    elif rel.startswith("/flash/var/pdb/"):
        key = "image" if rel.endswith("/image") else "database"
    elif rel in ("/flash/postlog", "/flash/PCKGS_CHANGED", "/flash/UPGRADED"):
        key = "other"
    else:
        key = "unpacked"
    sums[key] += int(m[3])
written = sum(sums.values())
least = unpacked + database + image
print(f"{mode:<8} {kind:<6} {written:>10} {sums['unpacked']:>10} {sums['database']:>10} "
      f"{sums['image']:>10} {sums['stream']:>10} {sums['other']:>10} {least:>10} "
      f"{written / least:>7.3f}x")
PY
    done
done
