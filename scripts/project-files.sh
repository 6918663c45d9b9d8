# Sourced by the scripts that look at the project's sources. project_files lists the project's
# files, one per line, relative to its top directory (the current one): those git tracks in a
# checkout; in an unpacked release, which git knows nothing of, those on disk outside the build
# trees and hidden directories.
project_files() {
    if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
        git ls-files
    else
        find . \( -path ./build -o -path './.*' \) -prune -o -type f -print | sed 's|^\./||'
    fi
}
