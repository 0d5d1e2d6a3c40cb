#!/bin/sh
# man-options.sh PROGRAM PAGE help|usage: the options of the manual page PAGE
# (the tags of its OPTIONS section) are exactly those PROGRAM names, so the
# page cannot drift from the program. With "help" the program's --help text
# names them (and --help itself is one, since it printed the text); with
# "usage" the usage line the program prints on standard error when it is run
# without arguments does.
set -eu
[ $# -eq 3 ] || { echo "usage: $0 PROGRAM PAGE help|usage" >&2; exit 2; }
program=$1 page=$2 mode=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Option words: a dash or two and a letter, not inside a word (pdemu-run,
# T-states and YYYY-MM-DD are no options).
options() {
    grep -oE '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' | sed -E 's/^[^-]*//' | sort -u
}

# The tag lines: each line that follows a .TP in the OPTIONS section, with
# groff's \- read as a dash.
awk '/^\.SH /{inside = ($0 ~ /^\.SH "?OPTIONS"?$/); next}
     inside && tag {print; tag = 0; next}
     inside && /^\.TP/ {tag = 1}' "$page" | sed 's/\\-/-/g' | options > "$tmp/page"

case "$mode" in
    help)
        "$program" --help > "$tmp/text"
        { options < "$tmp/text"; echo --help; } | sort -u > "$tmp/program" ;;
    usage)
        if "$program" > /dev/null 2> "$tmp/text"; then
            echo "man-options: $program without arguments did not fail with its usage line" >&2
            exit 1
        fi
        grep -o 'usage:.*' "$tmp/text" | options > "$tmp/program" ;;
    *) echo "man-options: mode is help or usage, not '$mode'" >&2; exit 2 ;;
esac

if [ ! -s "$tmp/page" ] || [ ! -s "$tmp/program" ]; then
    echo "man-options: no options found (page: $(wc -l < "$tmp/page"), program: $(wc -l < "$tmp/program"))" >&2
    exit 1
fi
status=0
only_program=$(comm -13 "$tmp/page" "$tmp/program")
only_page=$(comm -23 "$tmp/page" "$tmp/program")
if [ -n "$only_program" ]; then
    echo "man-options: $(basename "$program") has options that $(basename "$page") lacks:" $only_program >&2
    status=1
fi
if [ -n "$only_page" ]; then
    echo "man-options: $(basename "$page") has options that $(basename "$program") lacks:" $only_page >&2
    status=1
fi
[ $status -eq 0 ] && echo "man-options: $(basename "$page"): $(tr '\n' ' ' < "$tmp/page")"
exit $status
