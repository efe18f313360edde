#!/bin/sh
# Checks the export table of a Windows build of QUARN32.dll.
#   check_pe_exports.sh OBJDUMP DLL EXPECTED_NAMES STDCALL_ARGS BITS
# - the DLL exports exactly the names in EXPECTED_NAMES, undecorated;
# - every export is the function of its name: on 64-bit Windows Name, on
#   32-bit (BITS=32) the stdcall function Name@N with N = 4 * its argument
#   count in STDCALL_ARGS;
# - on 32-bit, every return of that function (or of the function it ends in
#   with a tail jump) is `ret $N`: the callee removes exactly its arguments.
set -eu
objdump=$1 dll=$2 expected=$3 args=$4 bits=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$objdump" -p "$dll" >"$tmp/headers"

# Name pointer table: "[   i] Name" lines; the index is the entry of the
# export address table ("[   i] +base[ o] RVA Export RVA").
awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
     on && /^[ \t]*\[ *[0-9]+\] / { sub(/^[ \t]*\[ */, ""); sub(/\]/, ""); print $1, $2; next }
     on { on = 0 }' "$tmp/headers" >"$tmp/names"
awk '/^Export Address Table --/ { on = 1; next }
     on && /Export RVA/ { sub(/^[ \t]*\[ */, ""); sub(/\].*\] */, " "); print $1, $2; next }
     on { on = 0 }' "$tmp/headers" >"$tmp/rvas"
base=$(awk '$1 == "ImageBase" { print $2 }' "$tmp/headers")

cut -d' ' -f2 "$tmp/names" | sort >"$tmp/actual"
grep -v '^[[:space:]]*$' "$expected" | sort >"$tmp/expected"
if ! cmp -s "$tmp/actual" "$tmp/expected"; then
    echo "export names differ (< expected, > actual):"
    diff "$tmp/expected" "$tmp/actual" | grep '^[<>]' || true
    exit 1
fi
count=$(wc -l <"$tmp/actual")
[ "$count" -gt 0 ] || { echo "no exports found in $dll"; exit 1; }

# One line per symbol of the disassembly: "address label returns... |tail",
# where returns are the pop counts of its ret instructions (0 for a plain
# ret) and tail is the label of a function it jumps to at its start.
"$objdump" -d "$dll" | awk '
    function flush() { if (label != "") print addr, label, rets "|" tail }
    /^[0-9a-f]+ <[^>]+>:$/ {
        flush()
        addr = $1; label = $2; sub(/^</, "", label); sub(/>:$/, "", label)
        rets = ""; tail = ""; next
    }
    /\tret *$/ { rets = rets " 0"; next }
    /\tret +\$0x[0-9a-f]+/ { match($0, /\$0x[0-9a-f]+/); rets = rets " " substr($0, RSTART + 1, RLENGTH - 1); next }
    /\tjmp +[0-9a-f]+ <[^+>]+>$/ { t = $NF; sub(/^</, "", t); sub(/>$/, "", t); tail = t; next }
    END { flush() }' >"$tmp/functions"

failures=0
while read -r index name; do
    argc=$(awk -v n="$name" '$1 == n { print $2 }' "$args")
    if [ -z "$argc" ]; then
        echo "$name: no argument count in $(basename "$args")"
        failures=$((failures + 1))
        continue
    fi
    bytes=$((4 * argc))
    if [ "$bits" = 32 ]; then symbol="_$name@$bytes"; else symbol=$name; fi
    rva=$(awk -v i="$index" '$1 == i { print $2 }' "$tmp/rvas")
    # objdump prints addresses with 8 (PE32) or 16 (PE32+) hex digits.
    address=$(printf "%0$((bits / 4))x" $((0x$base + 0x$rva)))
    label=$(awk -v a="$address" '$1 == a { print $2; exit }' "$tmp/functions")
    if [ "$label" != "$symbol" ]; then
        echo "$name: export points at ${label:-nothing} ($address), expected $symbol"
        failures=$((failures + 1))
        continue
    fi
    # 64-bit Windows has one calling convention: the caller cleans up.
    [ "$bits" = 32 ] || continue
    # Follow tail jumps (a function that ends by jumping to another with
    # the same arguments leaves the pop to that one).
    seen="" current=$label pops=""
    while [ -n "$current" ]; do
        case " $seen " in *" $current "*) break ;; esac
        seen="$seen $current"
        line=$(awk -v l="$current" '$2 == l { $1 = ""; $2 = ""; print; exit }' "$tmp/functions")
        pops="$pops ${line%%|*}"
        current=${line#*|}
    done
    ok=1 any=0
    for pop in $pops; do
        any=1
        [ $((pop)) -eq "$bytes" ] || ok=0
    done
    if [ "$any" -eq 0 ] || [ "$ok" -eq 0 ]; then
        echo "$name: returns pop [$(echo $pops)] bytes, expected $bytes"
        failures=$((failures + 1))
    fi
done <"$tmp/names"

if [ "$failures" -ne 0 ]; then
    echo "$failures export(s) wrong"
    exit 1
fi
if [ "$bits" = 32 ]; then
    echo "$count exports, names as expected; each pops its arguments (ret \$4*argc)"
else
    echo "$count exports, names as expected, each at its function"
fi
