// Where the program's Language.ini lives: beside the program when that
// folder holds one and may be written (a copy run from its own folder, as
// on Windows, or from its build folder); otherwise the user's own copy in
// $XDG_CONFIG_HOME/kt560ax/ (~/.config/kt560ax/), made on first start from
// the shipped one and never overwritten later.
#pragma once

#include <QString>

namespace kt::shell {

struct IniLocation {
    QString path;  // the Language.ini to use; empty when none could be had
    QString error; // why, then
};

// `programDir` is the folder of the running program; the shipped copy is
// looked for in ../share/kt560ax/ beside it, else the built-in one is used.
IniLocation locateLanguageIni(const QString& programDir);

} // namespace kt::shell
