# Sourced by scripts/e2e.sh: a link planted as the temporary file, to a file outside (Wine shows
# it as a file) or to nothing (Wine shows it as nothing), is not followed, and the run patches
# verdata.mul as the native build does.
work="$(mktemp -d)"
mkdir "$work/native"
"$root/build/native/bench/quelvane-workload" demo "$work/native" >/dev/null
cp "$work/native/"*.mul "$work/"
(cd "$work/native" && printf '\n' | "$root/build/native/quelvane" >/dev/null)
echo "not to be touched" >"$work/outside"
for link in ../outside nowhere; do
    rm -rf "$work/run" && mkdir "$work/run" && cp "$work/"*.mul "$work/run/"
    ln -s "$link" "$work/run/verdata.mul.new"
    said="$(cd "$work/run" && "$quelvane_wine" "$build/e2e/quelvane_e2e_driver.exe" --press "$exe")"
    grep -q "box: Done." <<<"$said" && [ "$(cat "$work/outside")" = "not to be touched" ] &&
        [ "$(ls "$work/run" | tr '\n' ' ')" = "patchdata.mul verdata.mul " ] &&
        [ ! -L "$work/run/verdata.mul" ] && cmp -s "$work/run/verdata.mul" "$work/native/verdata.mul" ||
        { echo "planted link to $link: $said; $(ls -l "$work" "$work/run")" >&2; exit 1; }
done
# A link to a folder under the temporary file's name is a folder's place taken: refused at once
# (not after retries), the link and the folder untouched, the target as it was.
rm -rf "$work/run" && mkdir -p "$work/run" "$work/folder" && cp "$work/"*.mul "$work/run/"
echo "inside" >"$work/folder/file"
ln -s ../folder "$work/run/verdata.mul.new"
said="$(cd "$work/run" && "$quelvane_wine" "$build/e2e/quelvane_e2e_driver.exe" --press "$exe" || true)"
took="$(tr -d '\r' <<<"$said" | sed -n 's/^press to box: \([0-9]*\) ms$/\1/p')"
grep -q "box: Error writing Verdata.mul" <<<"$said" && [ "${took:-9999}" -lt 1000 ] &&
    [ "$(readlink "$work/run/verdata.mul.new")" = ../folder ] &&
    [ "$(cat "$work/folder/file")" = inside ] && cmp -s "$work/run/verdata.mul" "$work/verdata.mul" ||
    { echo "planted folder link: $said; $(ls -l "$work/run" "$work/folder")" >&2; exit 1; }
rm -rf "$work"
echo "e2e: links planted as the temporary file (to a file, dangling) were removed as names; the run completed; one to a folder refused the run at once"
