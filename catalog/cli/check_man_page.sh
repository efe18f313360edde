#!/bin/sh
# Every option and command that `tslcat-cli --help` prints must appear in
# the man page, so the two cannot drift apart.
# usage: check_man_page.sh TSLCAT-CLI MAN-PAGE
set -eu
cli=$1 page=$2
# roff writes a minus as \- ; fonts as \fB ... \fR.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
help=$("$cli" --help)
missing=0
# An option starts a word: "tslcat-cli" holds no option "-cli".
for option in $(printf '%s\n' "$help" | grep -oE -- '(^|[][ |,])--?[a-z][a-z0-9-]*' | sed 's/^[^-]*//' | sort -u); do
    if ! printf '%s\n' "$text" | grep -q -- "$option\b"; then
        echo "man page lacks option $option" >&2
        missing=1
    fi
done
# Commands: the first word of each line under "Commands:".
for command in $(printf '%s\n' "$help" | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p'); do
    if ! printf '%s\n' "$text" | grep -q "^\.B.* $command\b\|^\.B $command\b\|^\.BI \"\?$command\b"; then
        echo "man page lacks command $command" >&2
        missing=1
    fi
done
[ "$missing" -eq 0 ] && echo "man page covers every option and command of --help"
exit "$missing"
