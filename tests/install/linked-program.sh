# Sourced by the scripts that build LinkedProgram.cpp against an installed
# libtorvel. Each function fails the script with a message.

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Fails unless PROGRAM loads libtorvel.so.3 from LIBDIR.
expect_library_from() {
    local program=$1 libdir=$2 loaded
    loaded=$(ldd "$program" | sed -n 's/^\s*libtorvel\.so\.3 => \(.*\) (0x[0-9a-f]*)$/\1/p')
    [ -n "$loaded" ] && [ "$(realpath "$loaded")" = "$(realpath "$libdir/libtorvel.so.3")" ] ||
        fail "$program does not load libtorvel from $libdir: $(ldd "$program" | grep torvel)"
}

# Builds the consumer CMake project in BUILD against the libtorvel found
# below PREFIX, asking for version WANTED; prints CMake's output.
build_with_cmake() {
    local cmake=$1 consumer=$2 source=$3 prefix=$4 build=$5 wanted=$6
    "$cmake" -S "$consumer" -B "$build" -DLINKED_SOURCE="$source" -DWANTED_VERSION="$wanted" \
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF 2>&1 &&
        "$cmake" --build "$build" 2>&1
}

# Runs the linked program with LIBDIR as its library path: it issues a CA
# certificate in WORK, reads it back and counts the blocks of a plain file.
run_linked() {
    local program=$1 libdir=$2 work=$3 output
    openssl genrsa -out "$work/ca.key" 2048 2>/dev/null
    printf 'no signature blocks here' >"$work/file"
    output=$(LD_LIBRARY_PATH=$libdir "$program" "$work/ca.key" "$work/ca.pem" "$work/file" 2>"$work/linked.err") ||
        fail "$program failed: $(cat "$work/linked.err")"
    [ "$(sed -n '1p;3p' <<<"$output")" = $'Linked Root\n0 signature blocks' ] ||
        fail "$program printed: $output"
    [ -s "$work/ca.pem" ] || fail "$program wrote no certificate"
}
