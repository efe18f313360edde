// cli_figures.h - tslcat-cli search from process start to exit, against
// plocate -b on the same names.
#pragma once

#include <QString>

#include <functional>
#include <string>

namespace tslcat {
class TCatalogTree;
}

// Builds the catalog with `build` and saves it as cli.dat in `dir`, then
// times whole processes, the two taking turns, `runs` times each (after one
// warming run each): `tslcat-cli --db cli.dat search ...` and
// `plocate -d plocateDb -b ...` for the literal and the two regular
// expressions of the search figures.  Both print their hits (rows, paths);
// the hit counts are the lines each wrote, printed side by side.
void CliSearchFigures(const QString &dir, const std::string &plocateDb,
                      const std::function<void(tslcat::TCatalogTree &)> &build, int runs);
