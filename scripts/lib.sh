# Shared by the scripts: installs what the build needs from Debian packages when it is missing,
# then leaves the caller in the repository's root. It sets no shell options, so sourcing it by
# hand leaves an interactive shell as it was; the scripts set their own (set -euo pipefail) and
# the functions below return their first failure either way.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)" || return
cd "$ROOT" || return

# Packages the build and the tests need, as "package:file-that-proves-it-is-there".
VORLEN_PACKAGES=(
  "build-essential:/usr/bin/g++"
  "cmake:/usr/bin/cmake"
  "ninja-build:/usr/bin/ninja"
  "pkg-config:/usr/bin/pkg-config"
  "libgtest-dev:/usr/include/gtest/gtest.h"
  "libgmock-dev:/usr/include/gmock/gmock.h"
  "libbenchmark-dev:/usr/include/benchmark/benchmark.h"
  "libabsl-dev:/usr/include/absl/container/flat_hash_map.h"
  "clang:/usr/bin/clang++"
  "clang-format:/usr/bin/clang-format"
  "clang-tidy:/usr/bin/clang-tidy"
  "ccache:/usr/bin/ccache"
  "qt6-base-dev:/usr/lib/x86_64-linux-gnu/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake"
  "qt6-translations-l10n:/usr/share/qt6/translations/qtbase_ru.qm"
  "liblua5.4-dev:/usr/include/lua5.4/lua.h"
  "libzstd-dev:/usr/include/zstd.h"
  "libsqlite3-dev:/usr/include/sqlite3.h"
  # Only the options' comparison test links it; the terminal has its own Black-76.
  "libquantlib0-dev:/usr/include/ql/quantlib.hpp"
)

# What the windows leg adds (scripts/windows-env): the mingw-w64 cross compiler (posix threads),
# wine, GoogleTest's sources and the Russian locale.
VORLEN_WINDOWS_PACKAGES=(
  "g++-mingw-w64-x86-64-posix:/usr/bin/x86_64-w64-mingw32-g++-posix"
  "gcc-mingw-w64-x86-64-posix:/usr/bin/x86_64-w64-mingw32-gcc-posix"
  "binutils-mingw-w64-x86-64:/usr/bin/x86_64-w64-mingw32-windres"
  "wine64:/usr/lib/wine/wine64"
  "wine:/usr/bin/wineserver"
  "googletest:/usr/src/googletest/CMakeLists.txt"
  "locales:/usr/share/i18n/locales/ru_RU"
)

ensure_packages() {
  local missing=()
  local entry
  for entry in "${VORLEN_PACKAGES[@]}" "$@"; do
    [ -e "${entry#*:}" ] || missing+=("${entry%%:*}")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing from Debian packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq || return
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# libFuzzer's runtime, wherever this clang keeps it; installed from the package of this clang's
# version when it is missing.
ensure_fuzzer_runtime() {
  local runtime
  runtime="$(clang -print-file-name="libclang_rt.fuzzer-$(uname -m).a")"
  [ -f "$runtime" ] && return 0
  local major
  major="$(clang -dumpversion | cut -d. -f1)"
  ensure_packages "libclang-rt-$major-dev:$runtime" || return
  runtime="$(clang -print-file-name="libclang_rt.fuzzer-$(uname -m).a")"
  [ -f "$runtime" ] || { echo "libFuzzer's runtime not found for clang $major" >&2; return 1; }
}

# The compiler cache, when it is installed, for every build the scripts configure (in its default
# folder). Paths below the checkout are hashed relative to it, so other checkouts share it.
use_ccache() {
  command -v ccache >/dev/null || return 0
  export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
  export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
  # Debug information would otherwise tie every object to its checkout's build folder.
  export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
}

# Configures one preset when it has never been configured, or when the presets or a file under
# cmake/ (warnings, toolchain) changed since it was, then builds it; further arguments go to the
# build (e.g. --target NAME).
build_preset() {
  local preset="$1"
  shift
  local stamp="build/$preset/.vorlen-configured"
  use_ccache
  if [ ! -f "build/$preset/build.ninja" ] || [ ! -f "$stamp" ] ||
     [ -n "$(find CMakePresets.json cmake -newer "$stamp" -print -quit)" ]; then
    cmake --preset "$preset" >/dev/null || return
    touch "$stamp" || return
  fi
  cmake --build --preset "$preset" "$@"
}

# Fails on two tracked paths (files or folders) that differ only in case: a checkout on Windows,
# or on macOS by default, would keep only one of them.
check_case_collisions() {
  local clashes
  clashes="$(git ls-files | awk -F/ '{
      p = ""
      for (i = 1; i <= NF; i++) { p = (i == 1) ? $i : p "/" $i; print p }
    }' | sort -u | awk '{
      l = tolower($0)
      if (l in seen) print seen[l] "  <->  " $0; else seen[l] = $0
    }')"
  if [ -n "$clashes" ]; then
    echo "paths that differ only in case:" >&2
    echo "$clashes" >&2
    return 1
  fi
}

# The C and C++ files of the repository, tracked ones only.
tracked_sources() {
  git ls-files -- '*.c' '*.cpp' '*.h'
}

# Every tracked source formatted as .clang-format says; lists the files that are not.
check_format() {
  local bad
  bad="$(tracked_sources | xargs -r -n 50 -P 2 clang-format --dry-run -Werror 2>&1 |
         grep -o '^[^:]*:[0-9]*:[0-9]*: error' | cut -d: -f1 | sort -u || true)"
  if [ -n "$bad" ]; then
    echo "not formatted with .clang-format (run clang-format -i on them):" >&2
    echo "$bad" >&2
    return 1
  fi
}

# The C and C++ files that clang-tidy looks at: those changed (committed or not) since this
# branch left the main branch (VORLEN_TIDY_BASE names another base), or, on the main branch
# itself, those of its last commit; all of them when no main branch is known (a shallow clone).
# Every translation unit takes several seconds of a core, so a whole-tree run (about ten minutes
# on two cores) is left to VORLEN_TIDY_BASE=all.
tidy_files() {
  local base="${VORLEN_TIDY_BASE:-}" ref
  if [ -z "$base" ]; then
    for ref in main origin/main; do
      if git rev-parse -q --verify "$ref^{commit}" >/dev/null; then
        base="$(git merge-base HEAD "$ref")"
        break
      fi
    done
  fi
  if [ -z "$base" ] || [ "$base" = all ]; then
    git ls-files -- '*.c' '*.cpp'
    return
  fi
  if [ "$base" = "$(git rev-parse HEAD)" ] && git rev-parse -q --verify HEAD~1 >/dev/null; then
    base=HEAD~1
  fi
  git diff --name-only --diff-filter=d "$base" -- '*.c' '*.cpp'
}

# clang-tidy with .clang-tidy over the files tidy_files lists that the preset's compile database
# holds (platform files of the other system are not in it); any finding fails.
check_tidy() {
  local preset="$1"
  local files=()
  mapfile -t files < <(tidy_files) || return
  if [ ${#files[@]} -eq 0 ]; then
    echo "clang-tidy: no changed C or C++ files"
    return 0
  fi
  echo "clang-tidy: ${#files[@]} file(s)"
  # run-clang-tidy takes regular expressions; each file is matched as a whole path suffix.
  local patterns=()
  local f
  for f in "${files[@]}"; do
    patterns+=("$ROOT/$(printf '%s' "$f" | sed 's/[.[\*^$+?(){}|]/\\&/g')\$")
  done
  # The database holds GCC's flags; a GCC-only warning option means nothing to clang.
  # Findings are errors through .clang-tidy (WarningsAsErrors), so a file with one fails.
  run-clang-tidy -quiet -p "build/$preset" -j 2 \
    -extra-arg=-Wno-unknown-warning-option "${patterns[@]}"
}
