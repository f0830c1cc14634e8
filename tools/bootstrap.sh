#!/usr/bin/env bash
# One command from a fresh Debian machine to a running program or a passing test run.
#
#   tools/bootstrap.sh run    install what is missing, build, open the window
#   tools/bootstrap.sh test   install what is missing, build every configuration, run every test
#   tools/bootstrap.sh web    install what is missing, build the page (build/web/marovel.html)
#   tools/bootstrap.sh deps   only install what is missing
#
# Packages come from Debian (tools/debian-packages.txt), through sudo when not root.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)

say() { printf '\n== %s (at %d s)\n' "$*" "$SECONDS"; }

install_packages() {
    local wanted missing=()
    mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' tools/debian-packages.txt)
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]} == 0)); then
        echo "All ${#wanted[@]} Debian packages are installed."
        return
    fi
    say "Installing: ${missing[*]}"
    local sudo=()
    if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

run_program() {
    say "Building (release)"
    cmake --preset release >/dev/null
    cmake --build --preset release --target marovel marovel-sim
    say "Opening the window"
    exec build/release/app/marovel
}

# The model in WebAssembly and its page: build/web/marovel.html, one file that
# opens from disk, and build/web/site/ for a web server.
build_page() {
    say "The page: the model in WebAssembly (emscripten)"
    cmake --preset web >/dev/null
    cmake --build --preset web
    echo "Open build/web/marovel.html in a browser, or serve build/web/site/."
}

run_tests() {
    # Tests run side by side, one per core; those that share a display or a
    # cluster take turns by their resource locks.
    export CTEST_PARALLEL_LEVEL=$jobs
    say "Release build and tests"
    cmake --workflow --preset release

    say "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
    cmake --workflow --preset sanitize

    say "Debug build: the simulation's own checks after every tick"
    cmake --preset debug >/dev/null
    cmake --build --preset debug --target sim_tests hazard_tests marovel-sim
    ctest --preset debug -L 'sim|hazard'

    say "Every build runs the same scenarios to the same fingerprints"
    tools/compare-builds.sh build/release/cli/marovel-sim build/debug/cli/marovel-sim \
        build/sanitize/cli/marovel-sim

    if [[ -f tests/fuzz/run-fuzz.sh ]]; then
        say "Fuzzing the picture and town readers and the OpenStreetMap importer"
        cmake --preset fuzz >/dev/null
        # Only the fuzzers, which compile the readers they fuzz themselves.
        cmake --build --preset fuzz --target fuzz_read_bmp fuzz_parse_town fuzz_import_osm
        tests/fuzz/run-fuzz.sh 30
    fi

    build_page
    say "The page in headless Chromium against the native program"
    ctest --preset web
    say "All tests passed"
}

case "${1:-}" in
    run) install_packages; run_program ;;
    test) install_packages; run_tests ;;
    web) install_packages; build_page ;;
    deps) install_packages ;;
    *) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
