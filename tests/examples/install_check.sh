#!/usr/bin/env bash
# The install as a host developer meets it: `cmake --install` into a scratch prefix, the C host
# example compiled through the installed pkg-config file and run, a script run by the installed
# runner; then the Debian package built by CPack, its dependencies named, unpacked into a scratch
# root and the same script run from there.
# Usage: install_check.sh BUILD SOURCE WORK CC SANITIZE
set -euo pipefail
build=$1 source=$2 work=$3 cc=$4 sanitize=${5:-OFF}
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

cat >check.gml <<GML
init();
image_load("");
var id = image_load("$source/examples/astronaut.jpg");
if (id <= 0) { show_debug_message("load failed: " + image_last_error()); exit; }
image_BlurGaussian(id, 2);
show_debug_message(string(image_get_width(id)) + " x " + string(image_get_height(id)));
GML
run_script() {
  local runner=$1 out
  out=$("$runner" check.gml) || fail "$runner check.gml exited with $?"
  [ "$out" = "640 x 480" ] || fail "$runner printed '$out'"
}

# 1. cmake --install into a scratch prefix.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
prefix=$work/prefix
libdir=$(dirname "$(find "$prefix" -name libombrix.so)")
[ -f "$libdir/libombrix.so" ] || fail "no libombrix.so installed"
[ -x "$libdir/ombrix-decode" ] || fail "ombrix-decode is not beside libombrix.so"
[ -x "$prefix/bin/ombrix" ] || fail "no runner in bin/"
[ -f "$prefix/include/ombrix_exports.h" ] || fail "no C header in include/"
[ -f "$libdir/pkgconfig/ombrix.pc" ] || fail "no pkg-config file"
run_script "$prefix/bin/ombrix"

# The C host, compiled only through what pkg-config says about the installed tree.
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs ombrix)
case $flags in *"$work"*) ;; *) fail "pkg-config points outside the install: $flags" ;; esac
sanitizer_flags=()
[ "$sanitize" = ON ] && sanitizer_flags=(-fsanitize=address,undefined)
# shellcheck disable=SC2086
"$cc" -std=c11 -Wall -Wextra -Werror "${sanitizer_flags[@]}" "$source/examples/host.c" $flags \
  -Wl,-rpath,"$libdir" -o c-host
./c-host "$source/examples/astronaut.jpg" grey.png >c-host.out || fail "the C host failed: $(cat c-host.out)"
grep -q "^loaded .*: 640 x 480$" c-host.out || fail "the C host printed: $(cat c-host.out)"
[ -s grey.png ] || fail "the C host wrote no picture"

# 2. The Debian package.
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >cpack.log 2>&1 || { cat cpack.log; fail "cpack failed"; }
deb=$(ls "$work"/package/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for runtime in libdevil1c2 libpng16-16 libffi8 libstdc++6; do
  case $depends in *"$runtime"*) ;; *) fail "the package does not depend on $runtime: $depends" ;; esac
done
dpkg-deb -x "$deb" root
[ -x root/usr/bin/ombrix ] || fail "the package has no /usr/bin/ombrix"
debian_libdir=$(dirname "$(find root/usr -name libombrix.so)")
[ -x "$debian_libdir/ombrix-decode" ] || fail "the package has no ombrix-decode beside libombrix.so"
run_script "$work/root/usr/bin/ombrix"
echo "installed tree and $(basename "$deb") run scripts; Depends: $depends"
