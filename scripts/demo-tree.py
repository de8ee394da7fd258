#!/usr/bin/python3
"""Writes the demo publisher tree below the folder given: KEL_V10 to KEL_V12,
the newest holding KEL_V12/KEL_V12/Setup.exe, and two updates.
  demo-tree.py ROOT [SETUP]
SETUP names a file to serve as every Setup.exe (a Windows program, for the
Windows window to start) instead of the shell script."""
import os, sys, zipfile

root = sys.argv[1]
app = os.path.join(root, "Digital Product Updates", "KEL", "KEL Software DVD", "ZIP")
upd = os.path.join(root, "Digital Product Updates", "KEL", "KEL Update DVD", "ZIP_Files")
os.makedirs(app)
os.makedirs(upd)


def archive(path, entries):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, date_time=(2026, 11, 30, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = mode << 16
            z.writestr(info, data)


setup = b"#!/bin/sh\necho 'KEL installer: demo release 12 would be installed now.'\n"
if len(sys.argv) > 2:
    with open(sys.argv[2], "rb") as f:
        setup = f.read()
for n in (10, 11, 12):
    base = "KEL_V%d" % n
    archive(os.path.join(app, base + ".zip"), [
        ("%s/%s/Setup.exe" % (base, base), setup, 0o100755),
        ("%s/%s/kel.dat" % (base, base), os.urandom(6 << 20), 0o100644),
        ("%s/ReadMe.txt" % base, b"KEL release %d (demo)\n" % n, 0o100644),
    ])
open(os.path.join(app, "Release notes.txt"), "w").write("not an archive\n")
archive(os.path.join(upd, "KELUPD01_01.zip"), [("patch-0101.txt", b"first update\n", 0o100644)])
archive(os.path.join(upd, "KELUPD02_01.zip"), [("patch-0201.txt", b"newest update\n", 0o100644),
                                              ("kel-update.dat", os.urandom(2 << 20), 0o100644)])
