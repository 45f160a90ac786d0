#!/usr/bin/env bash
# The bash completion of rastova-convert: its syntax, and what it offers after an
# option, for an option prefix and for files. bash-completion's helpers are
# stood in for, so the test needs no bash-completion package.
set -euo pipefail
script="$1"
bash -n "$script"

_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
_filedir() { COMPREPLY=("filedir:${1:-any}"); }
# shellcheck source=/dev/null
source "$script"

failures=0
expect() {  # expect "command line ending in the word to complete" "expected offers"
    read -r -a COMP_WORDS <<< "$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _rastova_convert
    if [[ "${COMPREPLY[*]}" != "$2" ]]; then
        echo "FAIL: '$1' offered '${COMPREPLY[*]}', expected '$2'"
        failures=$((failures + 1))
    fi
}
expect "rastova-convert -f p" "pbm pgm png ppm"
expect "rastova-convert --format t" "tga tif"
expect "rastova-convert -c " "true gray 2 16 256"
expect "rastova-convert --compress l" "lzw"
expect "rastova-convert --samp" "--sampling"
expect "rastova-convert -r l" "left"
expect "rastova-convert --existing s" "skip"
expect "rastova-convert --quantizer b" "best"
expect "rastova-convert --verb" "--verbose"
expect "rastova-convert -o " "filedir:-d"
expect "rastova-convert -q " ""
expect "rastova-convert -f png photo" "filedir:@(bmp|dib|rle|gif|ico|jpg|jpeg|jif|pcx|pbm|pgm|ppm|pam|png|tga|tif|tiff|webp|heic|heif|avif|jxl|wmf|emf|BMP|DIB|RLE|GIF|ICO|JPG|JPEG|JIF|PCX|PBM|PGM|PPM|PAM|PNG|TGA|TIF|TIFF|WEBP|HEIC|HEIF|AVIF|JXL|WMF|EMF)"
[[ $(complete -p rastova-convert) == "complete -F _rastova_convert rastova-convert" ]] || { echo "FAIL: not registered"; failures=$((failures + 1)); }
exit $((failures > 0))
