# The install benchmark's payload, copied into the directory given: shared libraries up to ~78 MiB,
# then header files up to ~2,000 files in all, stopping at ~100 MiB. Sorted names make the choice
# the same on every run of this machine.
#
#   python3 bench/payload.py <directory>
import os, shutil, sys
dest = sys.argv[1]
def files(top, keep):
    out = []
    for d, _, names in os.walk(top):
        for n in names:
            p = os.path.join(d, n)
            if os.path.isfile(p) and not os.path.islink(p) and keep(n):
                out.append(p)
    return sorted(out)
libs = files("/usr/lib/x86_64-linux-gnu", lambda n: ".so" in n)
text = files("/usr/include", lambda n: True) + files("/usr/share/perl5", lambda n: True)
total = count = 0
def take(p):
    global total, count
    rel = p.lstrip("/")
    os.makedirs(os.path.join(dest, os.path.dirname(rel)), exist_ok=True)
    shutil.copyfile(p, os.path.join(dest, rel))
    total += os.path.getsize(p); count += 1
for p in libs:
    if os.path.getsize(p) > 8 << 20: continue
    if total + os.path.getsize(p) > 78 << 20: break
    take(p)
for p in text:
    if count >= 2000 or total >= 100 << 20: break
    take(p)
print(f"payload: {count} files, {total / 1048576:.1f} MiB")
