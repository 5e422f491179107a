#!/bin/bash
# Builds the Debian package from a build tree with CPack and checks it as a
# user's machine would see it: its control fields and dependencies, its exact
# contents, lintian (no errors), the desktop entry and the AppStream metainfo
# validated where they are installed, and the programs run from the package
# unpacked into a temporary root.
#
#   checkpackage.sh CPACK CPACK_CONFIG VERSION
#
# Exit status: 0 when every check passed, 1 when one failed, 77 (skipped)
# when a tool the checks need is not installed (`make test` installs them).
set -u

cpack=$1
config=$2
version=$3
name=socketclient
app_id=org.quorvel.SocketClient
skipped=77

for tool in dpkg-deb dpkg-shlibdeps file lintian desktop-file-validate appstreamcli; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (make package-deps installs it)"
        exit $skipped
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

echo "== building the package"
if ! "$cpack" --config "$config" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=("$work"/out/*.deb)
if [ ${#deb[@]} -ne 1 ] || [ ! -f "${deb[0]}" ]; then
    echo "FAIL: expected one .deb, found: ${deb[*]}"
    exit 1
fi
deb=${deb[0]}
case $(basename "$deb") in
"${name}_${version}_"*.deb) ;;
*) fail "package file $(basename "$deb") is not ${name}_${version}_ARCH.deb" ;;
esac

echo "== control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$name" ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
[ "$(field Section)" = net ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
# Computed by dpkg-shlibdeps from the binaries, never written by hand.
depends=$(field Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6widgets6; do
    [[ ",$depends," == *", $library "* || ",$depends," == *",$library "* ]] ||
        fail "Depends lacks $library: $depends"
done

echo "== contents"
expected=(
    ./usr/bin/devicecheck
    ./usr/bin/devicesim
    ./usr/bin/framesend
    ./usr/bin/socketclient
    ./usr/share/applications/$app_id.desktop
    ./usr/share/doc/$name/README.md.gz
    ./usr/share/doc/$name/changelog.gz
    ./usr/share/doc/$name/copyright
    ./usr/share/icons/hicolor/scalable/apps/$app_id.svg
    ./usr/share/man/man1/devicecheck.1.gz
    ./usr/share/man/man1/devicesim.1.gz
    ./usr/share/man/man1/framesend.1.gz
    ./usr/share/man/man1/socketclient.1.gz
    ./usr/share/metainfo/$app_id.metainfo.xml
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
dpkg-deb -c "$deb" >"$work/listing"
awk '$1 !~ /^d/ { print $6 }' "$work/listing" | sort >"$work/actual"
if ! diff -u "$work/expected" "$work/actual"; then
    fail "contents differ from the list above (- expected, + packaged)"
fi
# Owned by root, nothing writable by group or others, programs executable.
awk '$2 != "root/root" || $1 ~ /^.....w/ || $1 ~ /^........w/ { print }' "$work/listing" >"$work/modes"
[ ! -s "$work/modes" ] || fail "ownership or modes: $(cat "$work/modes")"
awk '$1 !~ /^d/ && $6 ~ /^\.\/usr\/bin\// && $1 != "-rwxr-xr-x" { print }' "$work/listing" >"$work/modes"
[ ! -s "$work/modes" ] || fail "programs not 0755: $(cat "$work/modes")"

echo "== unpacked"
root=$work/root
dpkg-deb -x "$deb" "$root"
for size in 16 22 24 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
    file -b "$icon" | grep -q "PNG image data, $size x $size," ||
        fail "icon for ${size}x${size} is $(file -b "$icon")"
done
desktop-file-validate "$root/usr/share/applications/$app_id.desktop" ||
    fail "desktop-file-validate"
grep -qx "Exec=socketclient" "$root/usr/share/applications/$app_id.desktop" ||
    fail "the desktop entry does not start socketclient"
# --no-net: the validator would otherwise fetch the screenshot and home page.
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo has no release entry for $version"
for page in socketclient devicesim framesend devicecheck; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH .*\"socketclient $version\"" ||
        fail "manual page $page.1 does not carry version $version"
done
# The manual pages send the reader there for the record files' format.
zcat "$root/usr/share/doc/$name/README.md.gz" | grep -q "^## Traffic record" ||
    fail "README.md.gz is not the README"
for page in socketclient devicecheck; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "/usr/share/doc/$name/README.md.gz" ||
        fail "manual page $page.1 does not name the installed README"
done

shown=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/socketclient" --version 2>"$work/stderr")
[ $? -eq 0 ] && [ "$shown" = "socketclient $version" ] ||
    fail "socketclient --version printed '$shown': $(cat "$work/stderr")"
for tool in devicesim framesend devicecheck; do
    "$root/usr/bin/$tool" --help >"$work/help" 2>&1 && grep -q "^Usage: $tool " "$work/help" ||
        fail "$tool --help: $(head -3 "$work/help")"
done

echo "== lintian"
# Errors fail the check; warnings and notes are shown for the record.
lintian --fail-on error --display-level '>=warning' "$deb" 2>&1 |
    grep -v 'running with root privileges' | tee "$work/lintian"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package $(basename "$deb") passed every check"
