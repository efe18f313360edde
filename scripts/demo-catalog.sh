#!/bin/sh
# Makes a demo folder for tslcat: a catalog "mdb.dat" scanned with
# tslcat-cli from the sample folder trees in catalog/sample/ (three small
# "discs"), and the help page.  An existing mdb.dat is kept.
#   scripts/demo-catalog.sh PATH/TO/tslcat-cli DEMO_FOLDER
set -eu
cli=$1
demo=$2
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$demo"
if [ ! -f "$demo/mdb.dat" ]; then
    "$cli" --db "$demo/mdb.dat" add --name "Tools 1998" "$src/catalog/sample/tools-1998" >/dev/null
    "$cli" --db "$demo/mdb.dat" add --name "Recipes" "$src/catalog/sample/recipes" >/dev/null
    "$cli" --db "$demo/mdb.dat" add --name "Backup 2001" "$src/catalog/sample/backup-2001" >/dev/null
fi
cp "$src/catalog/gui/data/tslcat_help.html" "$demo/tslcat_help.html"
