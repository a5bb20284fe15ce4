# Sourced by scripts/e2e.sh: a link planted as the temporary file, to a file outside (Wine shows
# it as a file), is not followed, and the run patches verdata.mul as the native build does.
work="$(mktemp -d)"
mkdir "$work/run" "$work/native"
"$root/build/native/bench/quelvane-workload" demo "$work/run" >/dev/null
cp "$work/run/"*.mul "$work/native/"
(cd "$work/native" && printf '\n' | "$root/build/native/quelvane" >/dev/null)
echo "not to be touched" >"$work/outside"
ln -s ../outside "$work/run/verdata.mul.new"
said="$(cd "$work/run" && "$quelvane_wine" "$build/e2e/quelvane_e2e_driver.exe" --press "$exe")"
grep -q "box: Done." <<<"$said" && [ "$(cat "$work/outside")" = "not to be touched" ] &&
    [ "$(ls "$work/run" | tr '\n' ' ')" = "patchdata.mul verdata.mul " ] &&
    [ ! -L "$work/run/verdata.mul" ] && cmp -s "$work/run/verdata.mul" "$work/native/verdata.mul" ||
    { echo "planted link: $said; $(ls -l "$work" "$work/run")" >&2; exit 1; }
rm -rf "$work"
echo "e2e: a link planted as the temporary file was removed as a name; the run completed"
