// Where the program's Language.ini lives: beside the program when that
// folder holds one and may be written (a copy run from its own folder, as
// on Windows, or from its build folder); otherwise the user's own copy in
// $XDG_CONFIG_HOME/kt560ax/ (~/.config/kt560ax/), made on first start from
// the shipped one and never overwritten later.
#pragma once

#include "result.h"

#include <QString>

namespace kt::shell {

// The Language.ini to use, or why none could be had. `programDir` is the
// folder of the running program; the shipped copy is looked for in
// ../share/kt560ax/ beside it, else the built-in one is used.
Result<QString> locateLanguageIni(const QString& programDir);

} // namespace kt::shell
