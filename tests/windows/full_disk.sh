#!/bin/sh
# Small file systems that are full almost at once, for the install tests:
#   full_disk.sh mount DIR    DIR/temp, and the GMS folder of one CorelDRAW
#                             version in the profile DIR/profile, each a
#                             128 KiB tmpfs; DIR/mounted says they are
#   full_disk.sh unmount DIR  unmounts them and removes DIR
# Mounting needs root. Where it is impossible, DIR/unavailable says why and
# the tests that need it skip.
set -u
action=$1
dir=$2
gms="$dir/profile/AppData/Roaming/Corel/CorelDRAW Graphics Suite 2020/Draw/GMS"

unmount() {
  for point in "$dir/temp" "$gms"; do
    if mountpoint -q "$point" 2>/dev/null; then umount "$point" || exit 1; fi
  done
  rm -rf "$dir"
}

case $action in
  mount)
    unmount
    mkdir -p "$dir/temp" "$gms" || exit 1
    for point in "$dir/temp" "$gms"; do
      if ! out=$(mount -t tmpfs -o size=128k tmpfs "$point" 2>&1); then
        echo "cannot mount a small tmpfs (as $(id -un)): $out" >"$dir/unavailable"
        for done_point in "$dir/temp" "$gms"; do
          mountpoint -q "$done_point" 2>/dev/null && umount "$done_point"
        done
        cat "$dir/unavailable"
        exit 0
      fi
    done
    touch "$dir/mounted"
    ;;
  unmount) unmount ;;
  *) echo "usage: $0 mount|unmount DIR" >&2; exit 2 ;;
esac
