#!/bin/sh
# make-sysroot.sh SYSROOT CROSS_LIBDIR LIBTAP
# Lays out a root for `qemu-mipsel -L SYSROOT`: the cross C library and its loader, the
# names the recorder's module asks for (libc.so.0, libdl.so.0) pointing at it, and the
# simulator's plug-in API library where the module expects the recorder's.
set -eu
[ $# -eq 3 ] || { echo "usage: $0 SYSROOT CROSS_LIBDIR LIBTAP" >&2; exit 2; }
sysroot=$1 libdir=$2 libtap=$3
[ -e "$libdir/ld.so.1" ] || { echo "$0: no mipsel loader in $libdir" >&2; exit 1; }
[ -e "$libtap" ] || { echo "$0: $libtap not built" >&2; exit 1; }
mkdir -p "$sysroot/lib" "$sysroot/tapapi/TMS"
for f in "$libdir"/ld.so.1 "$libdir"/*.so.[0-9]*; do
  [ -e "$f" ] && ln -sfn "$f" "$sysroot/lib/${f##*/}"
done
ln -sfn libc.so.6 "$sysroot/lib/libc.so.0"
ln -sfn libdl.so.2 "$sysroot/lib/libdl.so.0"
ln -sfn "$libtap" "$sysroot/tapapi/TMS/libtap.so"
