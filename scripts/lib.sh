# Shared by ./scripts/run and ./scripts/test: installs what the build needs from Debian packages
# when it is missing, then leaves the caller in the repository's root.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

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
  "libclang-rt-14-dev:/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a"
  "clang-format:/usr/bin/clang-format"
  "qt6-base-dev:/usr/lib/x86_64-linux-gnu/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake"
  "qt6-translations-l10n:/usr/share/qt6/translations/qtbase_ru.qm"
  "liblua5.4-dev:/usr/include/lua5.4/lua.h"
)

# What the windows leg adds (scripts/windows-env): the mingw-w64 cross compiler (posix threads),
# wine, GoogleTest's sources, the Russian locale, and a compiler cache.
VORLEN_WINDOWS_PACKAGES=(
  "g++-mingw-w64-x86-64-posix:/usr/bin/x86_64-w64-mingw32-g++-posix"
  "gcc-mingw-w64-x86-64-posix:/usr/bin/x86_64-w64-mingw32-gcc-posix"
  "binutils-mingw-w64-x86-64:/usr/bin/x86_64-w64-mingw32-windres"
  "wine64:/usr/lib/wine/wine64"
  "wine:/usr/bin/wineserver"
  "googletest:/usr/src/googletest/CMakeLists.txt"
  "locales:/usr/share/i18n/locales/ru_RU"
  "ccache:/usr/bin/ccache"
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
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures (once) and builds one preset.
build_preset() {
  local preset="$1"
  shift
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "$@"
}
