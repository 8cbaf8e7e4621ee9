# Sourced by the install tests: `scratch_root BUILD_DIR` installs the build into a new
# scratch root (DESTDIR, so the installed files keep the paths they name) and sets
# $root; the root is removed when the test ends.
scratch_root() {
    root=$(mktemp -d /tmp/lumivane-install.XXXXXX)
    trap 'scratch_root_cleanup' EXIT
    DESTDIR=$root cmake --install "$1" >/dev/null
}
scratch_root_cleanup() {
    for pid in ${scratch_pids-}; do
        kill "$pid" 2>/dev/null
    done
    rm -rf "$root"
}
