#!/bin/sh
# The Debian package, built from this build tree and checked as a user of it would meet it.
#   package_test.sh build    <build dir> <work dir> <version>   make the .deb with cpack
#   package_test.sh contents <build dir> <work dir> <version>   what the .deb holds and declares
#   package_test.sh lintian  <build dir> <work dir> <version>   no lintian error or warning left unexplained
#   package_test.sh install  <build dir> <work dir> <version>   as root: apt install, run kestrel as an
#                                                               operator in dialout, remove, purge
# Exit code 77 means skipped; the reason is printed.
set -eu

mode="$1"
build="$2"
work="$3"
version="$4"
arch="$(dpkg --print-architecture)"
deb="$work/kestrel_${version}_${arch}.deb"
prefix=/opt/kestrel

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
skip() {
    echo "SKIP: $*"
    exit 77
}
check() { # check <description> <command...>
    description="$1"
    shift
    "$@" || fail "$description"
}

case "$mode" in
build)
    rm -rf "$work"
    mkdir -p "$work"
    # The tree is built already (the suite runs after the build); cpack installs it into a staging
    # folder below the work folder and packs it, as scripts/package.sh does with a release build.
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log" >&2; fail "cpack failed"; }
    rm -rf "$work/_CPack_Packages"
    [ -f "$deb" ] || fail "cpack made no $deb: $(ls "$work")"
    echo "made $deb"
    ;;

contents)
    [ -f "$deb" ] || fail "no package $deb (the package_build test makes it)"
    listing="$work/listing"
    dpkg-deb -c "$deb" >"$listing"
    # type+mode owner path, e.g. "drwxr-xr-x root/root ./opt/kestrel/Log/"
    entries="$(awk '{ print $1, $2, $6 }' "$listing")"
    has() { echo "$entries" | grep -qxF -- "$1" || fail "the package lacks \"$1\""; }

    has "-rwxr-xr-x root/root ./opt/kestrel/bin/kestrel"
    has "-rwxr-xr-x root/root ./opt/kestrel/bin/quillet"
    has "-rw-r--r-- root/root ./opt/kestrel/Config/main.ini"
    for dir in Config Log Temp Data; do
        has "drwxr-xr-x root/root ./opt/kestrel/$dir/"
    done
    has "-rw-r--r-- root/root ./usr/share/applications/kestrel.desktop"
    has "-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/kestrel.svg"
    for size in 48 128 256; do
        has "-rw-r--r-- root/root ./usr/share/icons/hicolor/${size}x${size}/apps/kestrel.png"
    done
    has "-rw-r--r-- root/root ./usr/share/doc/kestrel/copyright"
    has "-rw-r--r-- root/root ./usr/share/doc/kestrel/changelog.gz"
    has "-rw-r--r-- root/root ./usr/share/lintian/overrides/kestrel"

    # Every translation of the build tree, beside bin/ as kestrel looks for it.
    for translation in "$build"/Translations/*.qm; do
        has "-rw-r--r-- root/root ./opt/kestrel/Translations/$(basename "$translation")"
    done
    # Every picture of the build tree, and nothing of the build beyond the program tree.
    for picture in "$build"/Image/*.png "$build"/Image/*/*.png; do
        has "-rw-r--r-- root/root ./opt/kestrel/Image/${picture#"$build"/Image/}"
    done
    has "drwxr-xr-x root/root ./opt/kestrel/Image/zh_CN/"
    stray="$(echo "$entries" | awk '{ print $3 }' |
        grep -vE '^\./$|^\./opt/$|^\./opt/kestrel/((bin|Config|Image|Translations|Log|Temp|Data)/.*)?$|^\./usr/(share/)?$|^\./usr/share/(applications|icons|metainfo|doc|lintian)/' || true)"
    [ -z "$stray" ] || fail "unexpected paths in the package: $stray"
    echo "$entries" | awk '{ print $3 }' | grep -q '^\./opt/kestrel/bin/testersim$' &&
        fail "the tester simulator is packaged"
    # Nothing may be writable by anyone but root inside the package itself.
    writable="$(echo "$entries" | awk 'substr($1, 9, 1) == "w" || substr($1, 6, 1) == "w" { print $3 }')"
    [ -z "$writable" ] || fail "group- or world-writable in the archive: $writable"

    # Control data: name, version, one conffile, the maintainer scripts, the dependencies.
    check "package name" [ "$(dpkg-deb -f "$deb" Package)" = kestrel ]
    check "package version $(dpkg-deb -f "$deb" Version), project $version" [ "$(dpkg-deb -f "$deb" Version)" = "$version" ]
    check "architecture" [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ]
    control="$work/control"
    rm -rf "$control"
    dpkg-deb -e "$deb" "$control"
    check "conffiles is exactly main.ini: $(cat "$control/conffiles")" \
        [ "$(cat "$control/conffiles")" = "$prefix/Config/main.ini" ]
    for script in postinst postrm; do
        check "$script is executable" [ -x "$control/$script" ]
        check "$script parses" sh -n "$control/$script"
    done
    depends="$(dpkg-deb -f "$deb" Depends)"
    # Libraries from dpkg-shlibdeps (with versions), fonts of the report named by hand.
    for needed in 'libc6 (>= ' 'libqt6core6 (>= ' 'libqt6widgets6 (>= ' 'libqt6serialport6 (>= ' \
        'libqt6network6 (>= ' 'libqt6printsupport6 (>= ' 'libzip4 (>= ' fonts-liberation2 fonts-wqy-microhei; do
        case ", $depends" in
        *", $needed"*) ;;
        *) fail "Depends lacks \"$needed\": $depends" ;;
        esac
    done

    # The menu entry, the AppStream data and the icons as packaged.
    unpacked="$work/unpacked"
    rm -rf "$unpacked"
    dpkg-deb -x "$deb" "$unpacked"
    desktop="$unpacked/usr/share/applications/kestrel.desktop"
    check "desktop-file-validate kestrel.desktop" desktop-file-validate "$desktop"
    exec_path="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
    check "Exec=$exec_path is the packaged program" [ "$exec_path" = "$prefix/bin/kestrel" ]
    check "Icon=kestrel" grep -qx 'Icon=kestrel' "$desktop"
    metainfo="$(ls "$unpacked"/usr/share/metainfo/*.metainfo.xml)"
    # --no-net: addresses are checked for form; this test never leaves the machine.
    check "appstreamcli validate $(basename "$metainfo")" appstreamcli validate --no-net "$metainfo"
    check "AppStream data launches kestrel.desktop" \
        grep -q '<launchable type="desktop-id">kestrel.desktop</launchable>' "$metainfo"
    check "AppStream release $version" grep -q "<release version=\"$version\"" "$metainfo"
    screenshot="$(sed -n 's|.*<image>\(.*\)</image>.*|\1|p' "$metainfo")"
    case "$screenshot" in
    https://*/docs/window-after-query.png) ;;
    *) fail "the AppStream screenshot is not the README's: $screenshot" ;;
    esac
    for size in 48 128 256; do
        png="$unpacked/usr/share/icons/hicolor/${size}x${size}/apps/kestrel.png"
        check "icon ${size}x${size} has that size" [ "$(identify -format '%wx%h' "$png")" = "${size}x${size}" ]
    done
    check "changelog names $version" sh -c "gzip -dc '$unpacked/usr/share/doc/kestrel/changelog.gz' | head -n 1 | grep -q '^kestrel ($version) '"
    echo "contents ok: $(wc -l <"$listing") entries; Depends: $depends"
    ;;

lintian)
    [ -f "$deb" ] || fail "no package $deb (the package_build test makes it)"
    # Every remaining tag is overridden with its reason in packaging/lintian-overrides. The suite's
    # build lacks Debian's hardening flags, which lintian reports as information only.
    lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
    echo "lintian ok"
    ;;

install)
    [ -f "$deb" ] || fail "no package $deb (the package_build test makes it)"
    [ "$(id -u)" -eq 0 ] || skip "installing a package needs root (CI runs as root); contents are checked by package_contents"
    status="$(dpkg-query -W -f='${Status}' kestrel 2>/dev/null || true)"
    case "$status" in
    "" | "unknown ok not-installed" | "purge ok not-installed" | "deinstall ok config-files") ;;
    *) skip "kestrel is installed on this machine ($status); the test would replace and purge it" ;;
    esac
    [ "$status" = "deinstall ok config-files" ] && skip "kestrel's settings from an earlier install are kept here; the test would purge them"
    [ -e "$prefix" ] && skip "$prefix exists already; the test would mix with it"
    command -v apt-get >/dev/null || skip "no apt-get"

    operator="kestreltest$$"
    home="$(mktemp -d)"
    installed=""
    kestrel=""
    cleanup() {
        rc=$?
        if [ -n "$kestrel" ]; then
            kill -KILL "$kestrel" 2>/dev/null || true
        fi
        if [ -n "$installed" ] && dpkg-query -W kestrel >/dev/null 2>&1; then
            apt-get purge -y -qq -o DPkg::Lock::Timeout=300 kestrel >/dev/null 2>&1 || true
        fi
        # The operator's files this test made, then the folders the purge had to leave for them.
        rm -f "$prefix/Temp/operator-report.png" "$prefix/Data/operator-history.db" "$prefix/Data/history.sqlite"
        rmdir "$prefix/Temp" "$prefix/Data" "$prefix" 2>/dev/null || true
        userdel "$operator" 2>/dev/null || true
        rm -rf "$home"
        exit $rc
    }
    trap cleanup EXIT
    trap 'exit 1' INT TERM

    apt() { apt-get -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends "$@" </dev/null; }
    installed=yes
    apt install "$deb" >"$work/apt-install.log" 2>&1 || { cat "$work/apt-install.log" >&2; fail "apt-get install"; }
    check "dpkg knows kestrel $version" [ "$(dpkg-query -W -f='${Status} ${Version}' kestrel)" = "install ok installed $version" ]

    for dir in Config Log Temp Data; do
        check "$prefix/$dir is root:dialout 2775 ($(stat -c '%U:%G %a' "$prefix/$dir"))" \
            [ "$(stat -c '%U:%G %a' "$prefix/$dir")" = "root:dialout 2775" ]
    done
    check "main.ini is root:dialout 664 ($(stat -c '%U:%G %a' "$prefix/Config/main.ini"))" \
        [ "$(stat -c '%U:%G %a' "$prefix/Config/main.ini")" = "root:dialout 664" ]
    check "main.ini is a conffile" sh -c "dpkg-query -W -f='\${Conffiles}' kestrel | grep -q '^ $prefix/Config/main.ini [0-9a-f]\{32\}\$'"
    exec_path="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' /usr/share/applications/kestrel.desktop)"
    check "the menu entry starts an installed program ($exec_path)" [ -x "$exec_path" ]

    # An operator: an ordinary account whose only extra group is dialout.
    useradd --no-create-home --no-user-group --gid nogroup --groups dialout --home-dir "$home" \
        --shell /usr/sbin/nologin "$operator"
    chown "$operator" "$home"
    as_operator="setpriv --reuid=$operator --regid=nogroup --init-groups -- env -i HOME=$home
        PATH=/usr/bin:/bin XDG_RUNTIME_DIR=$home QT_QPA_PLATFORM=offscreen"

    # A main.ini from before QueryDataTimeout existed: the program adds the key with its default and
    # writes the file, which the operator may do only through the group's folder.
    sed -i '/^QueryDataTimeout=/d' "$prefix/Config/main.ini"

    runlog_file() { find "$prefix/Log/Run/kestrel" -type f 2>/dev/null | sort | head -n 1; }
    runlog_has() { f="$(runlog_file)" && [ -n "$f" ] && tr -d '\r' <"$f" | grep -q "$1"; }
    # kestrel listens on port 35671: ctest runs this test alone among those holding RESOURCE_LOCK
    # port35671; by hand, run it under flock /tmp/kestrel-port35671.lock like the other port tests.
    # shellcheck disable=SC2086
    $as_operator "$exec_path" >"$work/kestrel.out" 2>&1 &
    kestrel=$!
    waited=0
    until runlog_has 'System start successfully\.'; do
        kill -0 "$kestrel" 2>/dev/null || { cat "$work/kestrel.out" >&2; fail "kestrel ended at start"; }
        [ "$waited" -lt 150 ] || { cat "$work/kestrel.out" >&2; fail "no start line in the run log after 15 s"; }
        sleep 0.1
        waited=$((waited + 1))
    done
    kill -TERM "$kestrel"
    code=0
    wait "$kestrel" || code=$?
    kestrel=""
    check "kestrel ends with 0 on SIGTERM (got $code)" [ "$code" -eq 0 ]

    log="$(runlog_file)"
    echo "run log of the operator's kestrel:"
    tr -d '\r' <"$log"
    check "the run log ends with the exit line" sh -c "tr -d '\r' <'$log' | tail -n 1 | grep -q 'System exit successfully\.\$'"
    check "the run-log banner names version $version" runlog_has "Version: Kestrel V$version "
    check "main.ini got QueryDataTimeout back" grep -q '^QueryDataTimeout=10' "$prefix/Config/main.ini"
    check "main.ini was written by the operator ($(stat -c '%U:%G' "$prefix/Config/main.ini"))" \
        [ "$(stat -c '%U:%G' "$prefix/Config/main.ini")" = "$operator:dialout" ]
    # What one operator creates stays writable for the others of the group.
    for path in "$prefix/Log/Run" "$prefix/Log/Run/kestrel" "$log" "$prefix/Data/history.sqlite"; do
        check "$path is group dialout and group-writable ($(stat -c '%G %A' "$path"))" \
            sh -c "[ \"\$(stat -c '%G' '$path')\" = dialout ] && stat -c '%A' '$path' | grep -q '^.....w'"
    done
    # The operator's own work, which removing the program must keep.
    # shellcheck disable=SC2086
    $as_operator sh -c "echo report >'$prefix/Temp/operator-report.png' && echo history >'$prefix/Data/operator-history.db'" ||
        fail "the operator cannot write into Temp and Data"

    apt remove kestrel >"$work/apt-remove.log" 2>&1 || { cat "$work/apt-remove.log" >&2; fail "apt-get remove"; }
    check "remove keeps the settings" [ -f "$prefix/Config/main.ini" ]
    check "remove keeps the run log" [ -f "$log" ]
    check "remove takes the program" [ ! -e "$prefix/bin/kestrel" ]
    check "remove takes the menu entry" [ ! -e /usr/share/applications/kestrel.desktop ]

    apt purge kestrel >"$work/apt-purge.log" 2>&1 || { cat "$work/apt-purge.log" >&2; fail "apt-get purge"; }
    installed=""
    check "dpkg forgot kestrel" [ -z "$(dpkg-query -W -f='${Status}' kestrel 2>/dev/null | grep -v not-installed || true)" ]
    left="$(find "$prefix" | sort | tr '\n' ' ')"
    # The test history kestrel kept for the operator is the workshop's record: purge leaves it.
    check "after purge only the operator's work is left, got: $left" [ "$left" = \
        "$prefix $prefix/Data $prefix/Data/history.sqlite $prefix/Data/operator-history.db $prefix/Temp $prefix/Temp/operator-report.png " ]
    for path in /usr/share/applications/kestrel.desktop /usr/share/icons/hicolor/256x256/apps/kestrel.png \
        /usr/share/doc/kestrel /usr/share/lintian/overrides/kestrel; do
        check "purge took $path" [ ! -e "$path" ]
    done
    check "purge took the metainfo" sh -c '! ls /usr/share/metainfo/*.metainfo.xml 2>/dev/null | xargs -r grep -l "kestrel.desktop" | grep -q .'
    check "purge took the permission settings" sh -c "! dpkg-statoverride --list '$prefix/*' | grep -q ."
    echo "install ok: installed, run by $operator (group dialout), removed and purged"
    ;;

*)
    fail "unknown mode $mode"
    ;;
esac
