# Sourced by the bench scripts: the native build, the generated pairs, and the native result that
# the other builds' results are compared with. Expects `root` (the source tree) to be set.
scratch="${BENCH_DIR:-$root/build/bench-data}"

# Builds the native program and the workload generator.
build_native() {
    cmake --preset native -S "$root" >/dev/null
    cmake --build "$root/build/native" -j"$(nproc)" --target quelvane quelvane-workload quelvane-floor quelvane-measure \
        >/dev/null
}

# Prints the directory of workload $1's pair, generating the pair on first use.
pair_dir() {
    local pair="$scratch/$1"
    [ -f "$pair/verdata.mul" ] || "$root/build/native/bench/quelvane-workload" "$1" "$pair" >&2
    echo "$pair"
}

# Copies the pair in $1 into the fresh directory $2.
fresh_copy() {
    rm -rf "$2" && mkdir -p "$2" && cp "$1/verdata.mul" "$1/patchdata.mul" "$2/"
}

# Patches a copy of the pair in $1, in $2, with the native build.
native_result() {
    fresh_copy "$1" "$2"
    (cd "$2" && printf '\n' | "$root/build/native/quelvane" >/dev/null)
}

# Says whether the result in $1 is byte for byte the native one in $2; fails when it is not.
same_as_native() {
    if cmp -s "$1/verdata.mul" "$2/verdata.mul"; then
        echo "result: byte for byte the native build's ($(stat -c %s "$1/verdata.mul") bytes)"
    else
        echo "result: DIFFERS from the native build's" >&2
        return 1
    fi
}
