# Shared locations of the build scripts; sourced, not run.
# Dependency builds live outside the checkout so that clean clones and later runs reuse them.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps_revision=1
deps_root=${LAUNCHER_DEPS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/launcher-deps}/r$deps_revision
build_root=${LAUNCHER_BUILD_DIR:-$repo_root/build}
triples=(x86_64 i686)
