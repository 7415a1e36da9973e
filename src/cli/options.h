// The command line of kt560ax: a command, its files and the options that
// steer a job. Defaults come from Language.ini as the window reads it.
#pragma once

#include "engine/job_request.h"
#include "shell/result.h"
#include "shell/settings.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kt::cli {

struct CliOptions {
    QString command;        // a name of commandTable()
    QStringList files;      // the command's file arguments
    QString port;           // COMn, a device path or a network port
    bool portGiven = false; // --port was given
    int address = 1;
    QList<const engine::Category*> categories = engine::allCategories();
    bool categoriesGiven = false; // --only was given
    std::optional<int> cards;     // --cards; unset: the command's default
    shell::Settings settings;     // the line settings and times
    bool yes = false;
    bool quiet = false;
    bool json = false;
    int keep = 0; // run: complete backups kept per controller; 0 keeps all
    int from = 1; // scan
    int to = 99;
    int lines = 20;          // log: the number of jobs shown
    bool mask = false;       // diff: fingerprints instead of values
    int exportVersion = 0;   // history: the version to write out; 0: none
    QString identity;        // history --export: the age identity file that opens it
    bool reencrypt = false;  // run: rewrite the history once with every version encrypted
    QString output;          // report: the page to write
    QString metrics;         // run: the metrics file to write, besides [fleet]'s
    QStringList controllers; // run, apply: the sections to work on; empty: all
    bool dryRun = false;     // apply: the plan only, nothing written
    bool problems = false;   // status: only the controllers that need someone, grouped
    QString remote;          // status, report: every branch's fleet of this remote
    int fetchSeconds = 60;   // status, report --remote URL: the fetch's time limit
    QString info;            // --help or --version: the text to print instead of a command
};

// The commands: name, files taken (or kOneOrMore), usage and help.
inline constexpr int kOneOrMore = -1;
struct CommandRow {
    const char* name;
    int files;
    const char* usage;
    const char* help;    // nullptr: a command the program runs for itself, not in --help
    const char* options; // the options it reads, blank-separated
    const char* example; // a command line that shows it in use
};
const QList<CommandRow>& commandTable();
// Every option's spelling, as the parser takes them.
QStringList optionNames();

// The text of --help, from the tables of commands and options.
QString helpText();
// The text of COMMAND --help: its usage, what it does, its options and an
// example.
QString commandHelp(const CommandRow& command);

// The name of `names` that `word` most likely meant (a typing slip, or the
// start of it), or an empty text when none is near.
QString nearestName(const QString& word, const QStringList& names);

// Parses the arguments (without the program's name) over the settings of
// `iniFile`. A mistake is an Invalid error that says what is wrong; --help
// and --version give options whose `info` is the text to print.
shell::Result<CliOptions> parseOptions(const QStringList& arguments, const QString& iniFile);

} // namespace kt::cli
