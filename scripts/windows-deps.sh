#!/usr/bin/env bash
# Builds the static MinGW-w64 prefix the Windows programs link against (libffi, pcre2, libintl,
# glib, GMime, libpng, wxWidgets), from Debian's source packages, and prints its path.
#
# The prefix is cached in $EML2PST_DEPS_CACHE (default ~/.cache/eml2pst) under a key made of
# this script, the cross files and the source package versions: only the first run on a machine
# builds; a later run finds the prefix and only prints its path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${EML2PST_DEPS_CACHE:-${HOME:-/root}/.cache/eml2pst}
jobs=${JOBS:-$(nproc)}
triple=x86_64-w64-mingw32
sources=(libffi pcre2 gettext glib2.0 gmime libpng1.6 wxwidgets3.2)

log() { echo "windows-deps: $*" >&2; }

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

# Source packages need a deb-src entry for every suite the machine uses.
srclist=/etc/apt/sources.list.d/eml2pst-deb-src.sources
if ! apt-get source --print-uris glib2.0 >/dev/null 2>&1; then
  if [ ! -e "$srclist" ]; then
    log "enabling Debian source packages ($srclist)"
    $SUDO tee "$srclist" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  $SUDO apt-get update -q >&2
fi

bash "$root/scripts/install-packages.sh" g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  mingw-w64-tools libz-mingw-w64-dev meson dpkg-dev autoconf automake libtool gtk-doc-tools \
  autopoint gettext wine wine64 >&2

# The version apt would fetch for each source package, from its .dsc name.
versions=""
for s in "${sources[@]}"; do
  dsc=$(apt-get source --print-uris "$s" 2>/dev/null | grep -o "'[^']*\.dsc'" | head -n1 | tr -d "'")
  [ -n "$dsc" ] || { log "no source package $s"; exit 1; }
  versions+="$(basename "$dsc") "
done
key=$( (cat "$0" "$root/cmake/mingw-w64.cmake"; echo "$versions"; $triple-g++-posix --version | head -n1) \
       | sha256sum | cut -c1-16)
prefix="$cache/mingw-$key"
if [ -f "$prefix/.complete" ]; then
  log "cached: $prefix"
  echo "$prefix"
  exit 0
fi

start=$(date +%s)
work="$cache/work-$key"
# A run that stopped part-way goes on after the last library it finished.
mkdir -p "$work" "$prefix"
log "building into $prefix (sources: $versions)"

# The prefix's libraries, and MinGW's own zlib.
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig:/usr/$triple/lib/pkgconfig"
export PKG_CONFIG_PATH=""
export CPPFLAGS="-I$prefix/include"
export LDFLAGS="-L$prefix/lib"
export CC=$triple-gcc-posix CXX=$triple-g++-posix
export AR=$triple-ar RANLIB=$triple-ranlib STRIP=$triple-strip WINDRES=$triple-windres RC=$triple-windres
export CFLAGS="-O2" CXXFLAGS="-O2"
autotools=(--host=$triple --prefix="$prefix" --disable-shared --enable-static)

fetch() { # unpacks source package $1 into $work and prints its folder
  find "$work/" -maxdepth 1 -mindepth 1 -type d -name "$2*" -exec rm -rf {} +
  # An update's files can be missing from the security archive: then take the release's.
  (cd "$work" && { apt-get source -q "$1" || apt-get source -q "$1/bookworm"; } >"$work/$1.fetch.log" 2>&1) \
    || { cat "$work/$1.fetch.log" >&2; exit 1; }
  find "$work/" -maxdepth 1 -mindepth 1 -type d -name "$2*" | head -n1
}
step() { log "$1 ($(($(date +%s) - start)) s so far)"; }
done_before() { [ -f "$work/$1.done" ] && log "$1 built before"; }
finished() { touch "$work/$1.done"; }
quiet() { # runs a build command with its output in a log, shown only when it fails
  local name=$1; shift
  "$@" >>"$work/$name.log" 2>&1 || { tail -n 60 "$work/$name.log" >&2; log "$name failed"; exit 1; }
}

if ! done_before libffi; then
step libffi
src=$(fetch libffi libffi-)
(cd "$src" && quiet libffi ./configure "${autotools[@]}" --disable-docs --disable-multi-os-directory \
  && quiet libffi make -j"$jobs" && quiet libffi make install)
finished libffi
fi

if ! done_before pcre2; then
step pcre2
src=$(fetch pcre2 pcre2-)
(cd "$src" && quiet pcre2 ./configure "${autotools[@]}" --enable-pcre2-8 --disable-pcre2-16 \
  --disable-pcre2-32 --disable-pcre2grep-libz --disable-pcre2grep-libbz2 \
  && quiet pcre2 make -j"$jobs" libpcre2-8.la \
  && quiet pcre2 make install-libLTLIBRARIES install-nodist_includeHEADERS install-pkgconfigDATA)
finished pcre2
fi

# Only the runtime library of gettext; glib's own fallback would fetch it from the network.
if ! done_before libintl; then
step libintl
src=$(fetch gettext gettext-)
(cd "$src/gettext-runtime" && quiet libintl ./configure "${autotools[@]}" --enable-threads=windows \
  --disable-java --disable-csharp --disable-libasprintf --with-included-gettext am_cv_func_iconv=no \
  && cd intl && quiet libintl make -j"$jobs" && quiet libintl make install)
finished libintl
fi

# Meson's cross file: the tools, and the prefix's headers and libraries for C and C++ checks.
cross="$work/meson-cross.txt"
cat >"$cross" <<EOF
[binaries]
c = '$triple-gcc-posix'
cpp = '$triple-g++-posix'
ar = '$triple-ar'
strip = '$triple-strip'
windres = '$triple-windres'
pkgconfig = 'pkg-config'
exe_wrapper = 'wine'

[built-in options]
c_args = ['-I$prefix/include', '-O2']
cpp_args = ['-I$prefix/include', '-O2']
c_link_args = ['-L$prefix/lib']
cpp_link_args = ['-L$prefix/lib']

[properties]
pkg_config_libdir = '$prefix/lib/pkgconfig:/usr/$triple/lib/pkgconfig'

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
EOF

if ! done_before glib; then
step glib
src=$(fetch glib2.0 glib2.0-)
(cd "$src" && unset CC CXX AR RANLIB STRIP CFLAGS CXXFLAGS CPPFLAGS LDFLAGS \
  && WINEDEBUG=-all quiet glib meson setup _build --cross-file "$cross" --prefix "$prefix" \
  --libdir lib --buildtype release --default-library static --wrap-mode nodownload \
  -Dtests=false -Dinstalled_tests=false -Dnls=disabled -Dman=false -Dgtk_doc=false \
  -Dlibmount=disabled -Dselinux=disabled -Dxattr=false -Dlibelf=disabled -Dsysprof=disabled \
  -Ddtrace=false -Dsystemtap=false -Dglib_debug=disabled \
  && quiet glib meson compile -C _build -j "$jobs" \
  && quiet glib meson install -C _build --tags devel,runtime)
finished glib
fi

# GMime's configure runs a program to learn iconv's charset names; a cross build runs it under
# Wine, against the win-iconv that glib carries. glib installs no header for that iconv (its
# functions are in libglib): GMime's headers get one of ours.
if ! done_before gmime; then
step gmime
cat >"$prefix/include/iconv.h" <<'EOF_ICONV'
/* The iconv interface of the converter built into libglib on Windows. */
#ifndef EML2PST_MINGW_ICONV_H
#define EML2PST_MINGW_ICONV_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
typedef void* iconv_t;
iconv_t iconv_open(const char* tocode, const char* fromcode);
int iconv_close(iconv_t cd);
size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft);
#ifdef __cplusplus
}
#endif
#endif
EOF_ICONV
src=$(fetch gmime gmime-)
(cd "$src" && touch ChangeLog && quiet gmime gtkdocize --copy && quiet gmime autoreconf -fi \
  && $CC -O2 -I"$prefix/include" -o iconv-detect.exe iconv-detect.c \
       $(pkg-config --static --cflags --libs glib-2.0) \
  && WINEDEBUG=-all quiet gmime wine ./iconv-detect.exe \
  && test -s iconv-detect.h \
  && CPPFLAGS="$CPPFLAGS -D_FILE_OFFSET_BITS=64" quiet gmime ./configure "${autotools[@]}" --disable-crypto --disable-introspection \
       --disable-vala --disable-gtk-doc --without-libidn --disable-glibtest \
       ac_cv_func_iconv_open=yes ac_cv_have_iconv_detect_h=yes \
       GLIB_LIBS="$(pkg-config --static --libs gio-2.0 gobject-2.0 glib-2.0)" \
  && quiet gmime make -j"$jobs" -C util && quiet gmime make -j"$jobs" -C gmime && quiet gmime make -C gmime install \
  && quiet gmime make install-pkgconfigDATA)
finished gmime
fi

if ! done_before libpng; then
step libpng
src=$(fetch libpng1.6 libpng1.6-)
(cd "$src" && quiet libpng ./configure "${autotools[@]}" --with-zlib-prefix=/usr/$triple \
  && quiet libpng make -j"$jobs" && quiet libpng make install)
finished libpng
fi

# The MSW port with only what the wizard uses.
if ! done_before wxWidgets; then
step wxWidgets
src=$(fetch wxwidgets3.2 wxwidgets3.2-)
(cd "$src" && mkdir -p _msw && cd _msw && quiet wx ../configure --host=$triple --prefix="$prefix" \
  --disable-shared --with-msw \
  --enable-unicode --with-zlib=sys --with-libpng=sys --without-libjpeg --without-libtiff \
  --without-expat --without-liblzma --with-regex=builtin --without-opengl \
  --disable-webview --disable-mediactrl --disable-stc --disable-richtext --disable-propgrid \
  --disable-aui --disable-ribbon --disable-html --disable-htmlhelp --disable-xrc \
  --disable-webrequest --disable-sockets --disable-protocols --disable-url --disable-ipc \
  --disable-grid --disable-debugreport --disable-svg \
  && quiet wx make -j"$jobs" && quiet wx make install)
finished wxWidgets
fi

touch "$prefix/.complete"
rm -rf "$work"
log "done in $(($(date +%s) - start)) s: $prefix ($(du -sh "$prefix" | cut -f1))"
echo "$prefix"
