#!/usr/bin/env python3
"""Boots `kez` from its embedded pool and from its embedded sources
(KEZ_BOOT_FROM_SOURCE=1) and compares what tests/boot/boot-words.kez prints
in each: the type of every global word and the spec and body of every
function. The two must be identical whatever words the sources define, so
the comparison is made now rather than against a frozen file;
tests/boot/boot-words.expected keeps the listing made before the pool
existed.

Usage: compare-boot.py KEZ
"""
import difflib, os, subprocess, sys

kez = os.path.abspath(sys.argv[1])
script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "boot", "boot-words.kez")


def listing(from_source):
    env = dict(os.environ)
    env.pop("KEZ_BOOT_FROM_SOURCE", None)
    if from_source:
        env["KEZ_BOOT_FROM_SOURCE"] = "1"
    r = subprocess.run([kez, script], env=env, capture_output=True, text=True, timeout=300)
    if r.returncode != 0:
        sys.exit("listing failed (%s): %s" % ("sources" if from_source else "pool", r.stderr[-2000:]))
    return r.stdout.splitlines()


pool, source = listing(False), listing(True)
if pool != source:
    sys.stdout.writelines(l + "\n" for l in list(difflib.unified_diff(source, pool, "sources", "pool", lineterm=""))[:60])
    print("boot from the pool differs from boot from the sources")
    sys.exit(1)
print("boot from the pool matches boot from the sources (%d lines)" % len(pool))
