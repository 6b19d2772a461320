#!/usr/bin/env bash
# Checks the Debian package that `make package` built, as a user and Debian's tools see it:
#     check_package.sh CHECK RELEASE_DIR SOURCE_DIR
# CHECK: lintian, contents, apt, programs or metadata. The expected files and lintian's
# accepted warnings are in tests/data/package/.
set -euo pipefail

check=$1
release=$2
source=$3
data=$source/tests/data/package

shopt -s nullglob
debs=("$release"/morv3d-viewer_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "expected one morv3d-viewer_*.deb in $release (make package builds it), found ${#debs[@]}"
    exit 1
fi
deb=${debs[0]}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

# The lines of a data file without comments and blank lines.
entries() {
    grep -v -e '^#' -e '^$' "$1"
}

case $check in
lintian)
    # No errors; every warning is one we accept, and each accepted one says why in the file.
    lintian --tag-display-limit 0 --fail-on none "$deb" >"$work/lintian" 2>&1 || true
    cat "$work/lintian"
    if grep -q '^E: ' "$work/lintian"; then
        fail "lintian reports errors"
    fi
    while read -r line; do
        tag=$(echo "$line" | cut -d' ' -f3)
        entries "$data/lintian_warnings.txt" | cut -f1 | grep -qx "$tag" ||
            fail "a warning not accepted in lintian_warnings.txt: $line"
    done < <(grep '^W: ' "$work/lintian" || true)
    ;;
contents)
    dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's#^\./#/#' >"$work/contents"
    while read -r path; do
        grep -qx -- "$path" "$work/contents" || fail "the package lacks $path"
    done < <(entries "$data/contents.txt")
    # Nothing a user's system owns elsewhere: no caches of the MIME or desktop databases.
    ! grep -E '/mime/(mime\.cache|globs|magic)|mimeinfo\.cache|icon-theme\.cache' \
        "$work/contents" || fail "the package holds a cache the system builds"
    dpkg-deb --field "$deb" Package Version Section Depends
    ;;
apt)
    # The dependencies dpkg-shlibdeps found resolve on this system.
    apt-get install --simulate --no-install-recommends "$(realpath "$deb")" >"$work/apt" 2>&1 ||
        { cat "$work/apt"; fail "apt cannot install the package"; }
    grep -E '^(Inst|Conf) morv3d-viewer ' "$work/apt" || { cat "$work/apt"; fail "apt would not install it"; }
    ;;
programs)
    # The programs and their files as unpacked from the package.
    dpkg-deb -x "$deb" "$work/root"
    usr=$work/root/usr
    export PATH=$usr/bin:$PATH
    export QT_QPA_PLATFORM=offscreen
    version=$(dpkg-deb --field "$deb" Version)
    [ "$(morv3d --version)" = "morv3d ${version%-*}" ] || fail "morv3d --version: $(morv3d --version)"
    [ "$(morv3dViewer --version)" = "morv3dViewer ${version%-*}" ] ||
        fail "morv3dViewer --version: $(morv3dViewer --version)"
    morv3d render "$source/examples/sample.morv3d" "$work/sample.png" --size 64x48 ||
        fail "morv3d render of the sample"
    [ "$(head -c 8 "$work/sample.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
        fail "morv3d render wrote no PNG"
    # The import finds its helper beside the installed programs.
    morv3d import "$source/tests/data/gui/quad.obj" "$work/quad.morv3d" ||
        fail "morv3d import through the installed helper"
    # The man pages: each verb has its section.
    for page in morv3d morv3dViewer; do
        MANWIDTH=80 man -l "$usr/share/man/man1/$page.1.gz" >"$work/$page.txt" 2>"$work/man.err" ||
            { cat "$work/man.err"; fail "man -l $page"; }
        grep -q -- '--help' "$work/$page.txt" || fail "$page(1) lists no options"
    done
    for verb in chunks info validate tree render pick import export; do
        grep -q "^MORV3D ${verb^^}" "$work/morv3d.txt" || fail "morv3d(1) has no section for $verb"
    done
    # Completion: the verbs after morv3d, a verb's options, the choices of --view.
    completion=$usr/share/bash-completion/completions/morv3d
    complete_words() {
        bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _morv3d
                 printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
    }
    [ "$(complete_words morv3d '' | LC_ALL=C sort | tr '\n' ' ')" = \
        "--help --version chunks export help import info pick render tree validate " ] ||
        fail "completion of the verbs: $(complete_words morv3d '' | tr '\n' ' ')"
    complete_words morv3d render x.morv3d --vi | grep -qx -- --view || fail "completion of --view"
    [ "$(complete_words morv3d pick x.morv3d --view '' | tr '\n' ' ')" = "front top side iso " ] ||
        fail "completion of --view's values"
    # The thumbnailer's command line as a file manager runs it.
    exec_line=$(sed -n 's/^Exec=//p' "$usr/share/thumbnailers/morv3d.thumbnailer")
    exec_line=${exec_line//%i/$source/examples/sample.morv3d}
    exec_line=${exec_line//%o/$work/thumb.png}
    exec_line=${exec_line//%s/128}
    # shellcheck disable=SC2086 # the Exec line is split into words, as file managers do
    $exec_line || fail "the thumbnailer's command: $exec_line"
    [ "$(od -An -tu1 -j16 -N8 "$work/thumb.png" | tr -s ' ')" = " 0 0 0 128 0 0 0 128" ] ||
        fail "the thumbnail is not 128x128"
    ;;
metadata)
    dpkg-deb -x "$deb" "$work/root"
    desktop-file-validate "$work/root/usr/share/applications/morv3dViewer.desktop" ||
        fail "desktop-file-validate"
    appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml ||
        fail "appstreamcli validate"
    ;;
*)
    fail "unknown check $check"
    ;;
esac
echo "package $check: ok"
