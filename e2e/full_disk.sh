# Sourced by scripts/e2e.sh: the disk fills up during the write, on a volume without a directory
# entry to spare: the error stop's box, and its clean-up (a plain delete) leaves no temporary
# file. Mounting needs root; skipped with its reason elsewhere.
disk="$(mktemp -d)"
if mount -t tmpfs -o size=256k,nr_inodes=4 tmpfs "$disk" 2>/dev/null; then
    # One entry each (FileId 1, BlockId 1 or 2) with a block of 100000 bytes at offset 24.
    for file in 1:verdata 2:patchdata; do
        block="${file%%:*}"
        { printf "\x01\0\0\0\x01\0\0\0\x0$block\0\0\0\x18\0\0\0\xa0\x86\x01\0\0\0\0\0"
          head -c 100000 /dev/zero | tr '\0' "$block"; } >"$disk/${file#*:}.mul"
    done
    cp "$disk/verdata.mul" "$disk.before"
    said="$(cd "$disk" && "$quelvane_wine" "$build/e2e/quelvane_e2e_driver.exe" --press "$exe" || true)"
    listing="$(ls "$disk" | tr '\n' ' ')"
    cmp -s "$disk/verdata.mul" "$disk.before" && same=yes || same=no
    umount "$disk"
    rm -rf "$disk" "$disk.before"
    # Wine reports the full disk as a short write (101); Windows would say 112.
    grep -Eq "box: Runtime error (101|112) at" <<<"$said" && grep -Eq "exit code: 1(01|12)" <<<"$said" &&
        [ "$listing" = "patchdata.mul verdata.mul " ] && [ $same = yes ] ||
        { echo "full disk: $said; left: $listing; target unchanged: $same" >&2; exit 1; }
    echo "e2e: a full disk with no entry to spare stopped the run, which left nothing behind"
else
    echo "e2e: full disk skipped: mounting a small tmpfs is not allowed here"
fi
