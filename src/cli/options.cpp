#include "options.h"

#include "engine/backup_file.h"
#include "shell/language.h"
#include "shell/text_format.h"

#include "link/port_naming.h"
#include "link/port_settings.h"

#include <QRegularExpression>
#include <algorithm>

namespace kt::cli {

namespace {

bool takeNumber(const QString& text, int low, int high, int* value) {
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

// A plain decimal number of milliseconds: no sign, no exponent, no NaN or
// infinity, which would stall every wait.
bool takeTime(const QString& text, float* value) {
    static const QRegularExpression plain(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9})?$"));
    if (!plain.match(text.trimmed()).hasMatch())
        return false;
    *value = text.trimmed().toFloat();
    return true;
}

// Reads an option's value into the options; an error text when it does not
// fit, else an empty one.
using Take = QString (*)(CliOptions& options, const QString& value);

struct OptionRow {
    const char* name;
    const char* alias; // a second spelling, or nullptr
    const char* value; // the value's name in --help; nullptr: a switch
    const char* help;  // lines after the first are indented under it
    Take take;
};

QString number(const char* option, int low, int high, int* value, const QString& text,
               const QString& what) {
    return takeNumber(text, low, high, value)
               ? QString()
               : QStringLiteral("%1 takes %2, not \"%3\".").arg(option, what, text);
}

QString time(const char* option, float* value, const QString& text) {
    return takeTime(text, value)
               ? QString()
               : QStringLiteral("%1 takes milliseconds, not \"%2\".").arg(option, text);
}

QStringList categoryNames() {
    QStringList names;
    for (const engine::Category& category : engine::categories())
        names.append(QString::fromLatin1(category.name));
    return names;
}

// " Did you mean NAME?", or nothing when no name is near.
QString didYouMean(const QString& name) {
    return name.isEmpty() ? QString() : QStringLiteral(" Did you mean %1?").arg(name);
}

const QList<OptionRow>& optionTable() {
    static const QList<OptionRow> table = {
        {"--port", nullptr, "P",
         "COM1..COM8 (mapped in Language.ini as in the window), a\n"
         "device path such as /dev/ttyUSB0, tcp://HOST:PORT (also\n"
         "socket://HOST:PORT) for a serial device server in raw\n"
         "mode, or rfc2217://HOST:PORT for one in RFC 2217 mode;\n"
         "load needs it; save, verify and scan default to the\n"
         "window's port and say which",
         [](CliOptions& o, const QString& v) {
             o.port = v.trimmed();
             o.portGiven = true;
             return QString();
         }},
        {"--address", nullptr, "N", "controller address 1..99 (default 1)",
         [](CliOptions& o, const QString& v) {
             return number("--address", 1, 99, &o.address, v, "1 to 99");
         }},
        {"--only", nullptr, "LIST",
         "categories, comma-separated, of: master, system, appset,\n"
         "timezone, holiday, cards, flow, doset, diset (default all)",
         [](CliOptions& o, const QString& v) {
             o.categories.clear();
             o.categoriesGiven = true;
             for (const QString& name : v.split(u',', Qt::SkipEmptyParts)) {
                 const engine::Category* category = engine::findCategory(name.toUtf8());
                 if (!category)
                     return QStringLiteral("--only: there is no category \"%1\".%2 Categories: %3.")
                         .arg(name.trimmed(),
                              didYouMean(nearestName(name.trimmed(), categoryNames())),
                              categoryNames().join(QStringLiteral(", ")));
                 if (!o.categories.contains(category))
                     o.categories.append(category);
             }
             return o.categories.isEmpty() ? QStringLiteral("--only needs at least one category.")
                                           : QString();
         }},
        {"--cards", nullptr, "N",
         "user cards 1..%1; save: default %1; load and verify:\n"
         "default the card slots the backup covers, else %1",
         [](CliOptions& o, const QString& v) {
             int cards = 0;
             const QString error = number("--cards", 1, engine::kMaxCards, &cards, v,
                                          QStringLiteral("1 to %1").arg(engine::kMaxCards));
             if (error.isEmpty())
                 o.cards = cards;
             return error;
         }},
        {"--settings", nullptr, "TEXT", "line settings such as 19200,e,8,1 (default the window's)",
         [](CliOptions& o, const QString& v) {
             o.settings.strSettings = shell::trimBlanks(v.toLatin1());
             const auto parsed = link::parsePortSettings(o.settings.strSettings);
             return parsed ? QString()
                           : QStringLiteral("--settings: %1").arg(parsed.error().message);
         }},
        {"--tx-delay", nullptr, "MS", "pause before each request, 10..100 ms",
         [](CliOptions& o, const QString& v) {
             return time("--tx-delay", &o.settings.sngTxDelay, v);
         }},
        {"--rx-delay", nullptr, "MS", "pause before each reply wait, 10..100 ms",
         [](CliOptions& o, const QString& v) {
             return time("--rx-delay", &o.settings.sngRxDelay, v);
         }},
        {"--timeout", nullptr, "MS",
         "reply time-out, 200..1000 ms (times outside the limits\n"
         "are brought to them, as in the window)",
         [](CliOptions& o, const QString& v) {
             return time("--timeout", &o.settings.sngRxTimeOut, v);
         }},
        {"--echo", nullptr, nullptr,
         "the line echoes each request (some RS-485 converters):\n"
         "drop the echo before reading the reply (default the\n"
         "window's Echo setting, off)",
         [](CliOptions& o, const QString&) {
             o.settings.echo = true;
             return QString();
         }},
        {"--yes", "-y", nullptr,
         "load: restore even when the backup stopped before its\n"
         "end, holds fewer cards than chosen or lacks a category;\n"
         "without it such a load writes nothing and says why;\n"
         "apply: write the records that differ",
         [](CliOptions& o, const QString&) {
             o.yes = true;
             return QString();
         }},
        {"--quiet", "-q", nullptr, "no progress, only errors",
         [](CliOptions& o, const QString&) {
             o.quiet = true;
             return QString();
         }},
        {"--json", nullptr, nullptr, "a summary as JSON on standard output",
         [](CliOptions& o, const QString&) {
             o.json = true;
             return QString();
         }},
        {"--keep", nullptr, "N",
         "run: keep the N newest complete backups per controller\n"
         "(newest by their manifest's Finished time; the backup\n"
         "just made and the last good one are never removed)",
         [](CliOptions& o, const QString& v) {
             return number("--keep", 1, 100000, &o.keep, v, "a number of backups");
         }},
        {"--controllers", nullptr, "NAMES",
         "run and apply: only these controllers, comma-separated\n"
         "sections of the fleet file (default every one); the\n"
         "others' state stays as it was",
         [](CliOptions& o, const QString& v) {
             o.controllers.clear();
             for (const QString& name : v.split(u',', Qt::SkipEmptyParts))
                 if (!o.controllers.contains(name.trimmed()))
                     o.controllers.append(name.trimmed());
             return o.controllers.isEmpty()
                        ? QStringLiteral("--controllers needs at least one controller.")
                        : QString();
         }},
        {"--dry-run", nullptr, nullptr,
         "apply: read each controller and show what would be\n"
         "written, writing nothing; exit 4 when something would",
         [](CliOptions& o, const QString&) {
             o.dryRun = true;
             return QString();
         }},
        {"--problems", nullptr, nullptr,
         "status: only the controllers that need someone, most\n"
         "severe first, grouped by what went wrong and where they\n"
         "hang: a line for each group, its count and members, then\n"
         "a line for each controller alone",
         [](CliOptions& o, const QString&) {
             o.problems = true;
             return QString();
         }},
        {"--remote", nullptr, "URL",
         "status and report: in place of fleet files, the fleet of\n"
         "each branch of this remote (a URL, or a repository's\n"
         "folder: bare or a clone), from the state its runs commit;\n"
         "needs only read access to it",
         [](CliOptions& o, const QString& v) {
             o.remote = v;
             return v.isEmpty() ? QStringLiteral("--remote needs a URL or a folder.") : QString();
         }},
        {"--fetch-timeout", nullptr, "S",
         "status and report --remote URL: seconds the fetch of its\n"
         "branches may take (default 60)",
         [](CliOptions& o, const QString& v) {
             return number("--fetch-timeout", 1, 3600, &o.fetchSeconds, v, "1 to 3600 seconds");
         }},
        {"--from", nullptr, "N", "scan: the first address to try (default 1)",
         [](CliOptions& o, const QString& v) {
             return number("--from", 1, 99, &o.from, v, "an address 1 to 99");
         }},
        {"--to", nullptr, "N", "scan: the last address to try (default 99)",
         [](CliOptions& o, const QString& v) {
             return number("--to", 1, 99, &o.to, v, "an address 1 to 99");
         }},
        {"-n", nullptr, "N", "log: how many jobs to show",
         [](CliOptions& o, const QString& v) {
             return number("-n", 1, 100000, &o.lines, v, "a number of jobs");
         }},
        {"--mask", nullptr, nullptr,
         "diff: a short fingerprint instead of each value, so that\n"
         "the list can be mailed without a card record or the PIN;\n"
         "equal values have equal fingerprints within one list",
         [](CliOptions& o, const QString&) {
             o.mask = true;
             return QString();
         }},
        {"--output", "-o", "PAGE", "report: the HTML page to write",
         [](CliOptions& o, const QString& v) {
             o.output = v;
             return v.isEmpty() ? QStringLiteral("--output needs a file.") : QString();
         }},
        {"--metrics", nullptr, "FILE",
         "run: after the run, write the metrics of each controller\n"
         "into FILE for node_exporter's textfile collector",
         [](CliOptions& o, const QString& v) {
             o.metrics = v;
             return v.isEmpty() ? QStringLiteral("--metrics needs a file.") : QString();
         }},
        {"--export", nullptr, "N",
         "history: write version N's file set into DIR:\n"
         "history FLEET.ini SECTION --export N DIR",
         [](CliOptions& o, const QString& v) {
             return number("--export", 1, 1000000, &o.exportVersion, v, "a version number");
         }},
        {"--identity", nullptr, "FILE",
         "history --export: the age identity file that opens\n"
         "the versions of a history with Encrypt=\n"
         "(AGE-SECRET-KEY-1... lines, as age-keygen writes it)",
         [](CliOptions& o, const QString& v) {
             o.identity = v;
             return v.isEmpty() ? QStringLiteral("--identity needs a file.") : QString();
         }},
        {"--reencrypt", nullptr, nullptr,
         "run: first rewrite the history once, every version of it\n"
         "encrypted to the recipients of Encrypt= (the same\n"
         "messages, authors and times); a history that holds\n"
         "versions in clear takes Encrypt= only so",
         [](CliOptions& o, const QString&) {
             o.reencrypt = true;
             return QString();
         }},
    };
    return table;
}

const OptionRow* findOption(const QString& argument) {
    for (const OptionRow& option : optionTable())
        if (argument == QLatin1String(option.name) ||
            (option.alias && argument == QLatin1String(option.alias)))
            return &option;
    return nullptr;
}

// Where the help texts of commands and options begin on their lines.
constexpr qsizetype kHelpColumn = 20;

// Lines of help text in two columns: the name, then its text beside it at
// kHelpColumn, two blanks or more apart. A name too long for that stands
// on a line of its own, its text below it in the same column.
QString helpLines(const QString& head, const char* help) {
    // %1 stands for the card limit.
    const QStringList lines =
        shell::fillIn(QString::fromUtf8(help), {QString::number(engine::kMaxCards)}).split(u'\n');
    const QString name = QStringLiteral("  ") + head;
    QString text;
    if (name.size() + 2 > kHelpColumn)
        text += name + u'\n';
    for (qsizetype i = 0; i < lines.size(); ++i)
        text += (i == 0 && text.isEmpty() ? name : QString()).leftJustified(kHelpColumn) +
                lines[i] + u'\n';
    return text;
}

} // namespace

const QList<CommandRow>& commandTable() {
    static const QList<CommandRow> table = {
        {"save", 1, "save FILE", "read the chosen categories from the controller into FILE",
         "--port --address --settings --tx-delay --rx-delay --timeout --echo --only --cards "
         "--quiet --json",
         "kt560ax save site-a.KT --port /dev/ttyUSB0 --only system,cards --cards 2500"},
        {"load", 1, "load FILE", "write the chosen categories of FILE into the controller",
         "--port --address --settings --tx-delay --rx-delay --timeout --echo --only --cards --yes "
         "--quiet --json",
         "kt560ax load site-a.KT --port /dev/ttyUSB0 --only system,cards"},
        {"verify", 1, "verify FILE",
         "read the chosen categories from the controller and compare\n"
         "them with FILE, writing nothing; lists each difference",
         "--port --address --settings --tx-delay --rx-delay --timeout --echo --only --cards "
         "--quiet --json",
         "kt560ax verify site-a.KT --port COM3"},
        {"diff", 2, "diff OLD NEW",
         "compare two backups record by record (card files too):\n"
         "added, removed and changed records by category",
         "--mask --json", "kt560ax diff site-a.KT site-a-new.KT --mask"},
        {"log", 0, "log [-n N]", "the last N jobs of the job log (default 20)", "-n --json",
         "kt560ax log -n 5"},
        {"run", 1, "run FLEET.ini",
         "back up every controller of a fleet file (see below), or\n"
         "those of --controllers",
         "--controllers --keep --metrics --settings --tx-delay --rx-delay --timeout --quiet --json",
         "kt560ax run /var/lib/kt560ax/fleet.ini --keep 14 --quiet"},
        {"apply", 2, "apply FLEET.ini LIST.KT",
         "bring the fleet's controllers to the records of a backup:\n"
         "each is read first (kept as SECTION/TIME-before-apply.KT,\n"
         "which kt560ax load restores), then only the records that\n"
         "differ are written and read back; card slots the list\n"
         "holds no card for are left as they are. --dry-run shows\n"
         "the plan, --yes applies it; without either nothing runs.\n"
         "Each apply goes into the fleet's state and its history",
         "--only --cards --controllers --dry-run --yes --settings --tx-delay --rx-delay --timeout "
         "--quiet --json",
         "kt560ax apply fleet.ini cards.KT --dry-run"},
        {"apply-controller", 2, "", nullptr, "", ""},
        {"jobs", 0, "", nullptr, "", ""},
        {"status", kOneOrMore, "status FLEET.ini... | --remote URL",
         "one line per controller of one or more fleets, from their\n"
         "state, most severe first: failing, suspicious, never\n"
         "backed up, stale, unknown, changed or fine, its last\n"
         "complete backup, last outcome and error; --problems: only\n"
         "those that need someone, grouped by cause; --remote: the\n"
         "whole site, each fleet by its branch, and a line for each\n"
         "gateway whose runs have stopped; exit 0 when all are fine\n"
         "or changed, else 4",
         "--problems --json --remote --fetch-timeout",
         "kt560ax status /var/lib/kt560ax/fleet.ini --problems"},
        {"report", kOneOrMore, "report FLEET.ini... | --remote URL -o PAGE",
         "write the report page of one or more fleets: what needs\n"
         "someone, grouped by cause, then the controllers that need\n"
         "someone first, each with its port, error, recent runs and\n"
         "versions; --remote: the site's totals, then a section for\n"
         "each gateway",
         "--output --remote --fetch-timeout", "kt560ax report fleet.ini -o /var/www/kt560ax.html"},
        {"push", 1, "push FLEET.ini",
         "push the fleet's history to its Remote now, to its Branch,\n"
         "ended after PushTimeout as each run's push is",
         "", "kt560ax push fleet.ini"},
        {"history", 2, "history FLEET.ini SECTION",
         "the versions of one controller in the fleet's history;\n"
         "with --export N DIR, version N's file set into DIR",
         "--export", "kt560ax history fleet.ini door-north --export 3 /tmp/door-north-v3"},
        {"accept", 2, "accept FLEET.ini SECTION",
         "record that a suspicious controller's loss was meant (a\n"
         "reset on purpose): its newest backup becomes its last good\n"
         "one",
         "", "kt560ax accept fleet.ini door-north"},
        {"scan", 0, "scan", "list the controller addresses that answer on a port",
         "--port --address --settings --tx-delay --rx-delay --timeout --echo --from --to --json",
         "kt560ax scan --port tcp://10.0.0.7:4001 --from 1 --to 20"},
    };
    return table;
}

QStringList optionNames() {
    QStringList names;
    for (const OptionRow& option : optionTable()) {
        names.append(QString::fromLatin1(option.name));
        if (option.alias)
            names.append(QString::fromLatin1(option.alias));
    }
    return names + QStringList{"--help", "-h", "--version"};
}

QString commandHelp(const CommandRow& command) {
    QString text = QStringLiteral("Usage: kt560ax %1%2\n\n")
                       .arg(QString::fromLatin1(command.usage),
                            *command.options ? QStringLiteral(" [OPTIONS]") : QString());
    for (const QString& line :
         shell::fillIn(QString::fromUtf8(command.help), {QString::number(engine::kMaxCards)})
             .split(u'\n'))
        text += QStringLiteral("  ") + line + u'\n';
    const QStringList names = QString::fromLatin1(command.options).split(u' ', Qt::SkipEmptyParts);
    if (!names.isEmpty()) {
        text += QStringLiteral("\nOptions:\n");
        for (const QString& name : names)
            if (const OptionRow* option = findOption(name))
                text += helpLines(
                    name + (option->value ? ' ' + QString::fromLatin1(option->value) : QString()),
                    option->help);
    }
    return text + QStringLiteral("\nExample:\n  %1\n").arg(QString::fromLatin1(command.example));
}

QString nearestName(const QString& word, const QStringList& names) {
    // Edit distance with swapped neighbours as one slip ("lgo", "--prot").
    const auto distance = [](const QString& a, const QString& b) {
        const qsizetype n = a.size(), m = b.size();
        QList<QList<int>> d(n + 1, QList<int>(m + 1));
        for (qsizetype i = 0; i <= n; ++i)
            d[i][0] = int(i);
        for (qsizetype j = 0; j <= m; ++j)
            d[0][j] = int(j);
        for (qsizetype i = 1; i <= n; ++i)
            for (qsizetype j = 1; j <= m; ++j) {
                const int cost = a[i - 1].toLower() == b[j - 1].toLower() ? 0 : 1;
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
                if (i > 1 && j > 1 && a[i - 1].toLower() == b[j - 2].toLower() &&
                    a[i - 2].toLower() == b[j - 1].toLower())
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        return d[n][m];
    };
    const QString bare = QString(word).remove(QRegularExpression(QStringLiteral("^-+")));
    QString best;
    int bestDistance = std::max(1, int(bare.size()) / 3) + 1; // more is no slip
    for (const QString& name : names) {
        const QString candidate = QString(name).remove(QRegularExpression(QStringLiteral("^-+")));
        // The start of a name, typed short ("sav", "--prot").
        const int d = bare.size() >= 3 && candidate.startsWith(bare, Qt::CaseInsensitive)
                          ? 0
                          : distance(bare, candidate);
        if (d < bestDistance) {
            best = name;
            bestDistance = d;
        }
    }
    return best;
}

QString helpText() {
    QString text =
        QStringLiteral("Usage: kt560ax COMMAND [OPTIONS] [FILE...]\n\n"
                       "Backs up a KT550AX access controller into a backup file and restores it,\n"
                       "with the same files and rules as the KT560AX Data Backup System window.\n\n"
                       "Commands:\n");
    for (const CommandRow& command : commandTable())
        if (command.help)
            text += helpLines(QString::fromLatin1(command.usage), command.help);
    text += QStringLiteral("\nOptions:\n");
    for (const OptionRow& option : optionTable())
        text += helpLines(QString::fromLatin1(option.name) +
                              (option.value ? ' ' + QString::fromLatin1(option.value) : QString()),
                          option.help);
    text += helpLines(QStringLiteral("--help"), "this text");
    text += helpLines(QStringLiteral("--version"), "the program's version");
    return text + QStringLiteral(R"(
Fleet file: one section per controller; the section name names its folder.
  [door-north]
  Port=tcp://10.0.0.7:4001
  Address=1
  Only=master,system,cards
  Cards=2500
  Folder=/var/backups/kt560ax
A backup goes to FOLDER/SECTION/YYYY-MM-DD_HHMMSS.KT, card files beside it;
a relative FOLDER is taken from the fleet file's folder.
Controllers on different ports are backed up at the same time, those on
the same port (one RS-485 bus) one after another.

The section [fleet] holds the run's own settings (a controller may not be
called fleet), and any key of a controller's section as the default of
every section that does not give it:
  Include=PATTERN   the controllers' sections of further files, such as
                    buildings/*.ini (from the fleet file's folder), in name
                    order; they hold no [fleet] and no Include=
  History=DIR       a git repository (made when missing) that keeps each
                    controller's last backup whose records changed, as
                    SECTION/SECTION.KT, and the fleet's state (no record,
                    no credential, never encrypted) as .fleet-state.json;
                    one commit a run, never a backup that did not finish
  Encrypt=FILE      age recipients (age1... lines, # comments), a file
                    of this user's that no one else may write: every
                    file of the history is stored encrypted to them, so
                    that it opens with age -d -i KEY or history --export
                    --identity KEY; the gateway needs no private key
  Remote=URL        a path or URL the history is pushed to after each run
  Branch=NAME       the remote's branch of this fleet (default: the fleet
                    file's name without .ini)
  PushTimeout=60    seconds a push may take before it is ended
  PushFailLimit=3   a run whose push failed this many runs in a row
                    (1 to 1000) exits 2
  MaxAge=26h        status calls a controller stale when its last complete
                    backup is older (s, m, h or d; a bare number is hours)
  MaxLoss=50        a complete backup is suspicious when its user cards
                    fell by more than this percent (1 to 100) of the last
                    good backup's, or a category came back empty that held
                    records; a controller's section may set its own
  Retries=0         further tries of a controller whose line failed, after
                    all the others
  RetryPause=60     seconds before each round of retries
  Jobs=16           controllers backed up at the same time
  JobsPerProcess=16 saves that share one job process (1 to 64); 1: a
                    process for each controller
  OnChange=PROGRAM ARGS...   run once when records changed
  OnFailure=PROGRAM ARGS...  run once per controller that still failed
  OnDone=PROGRAM ARGS...     run once at the end
  Report=PAGE       the report page, rewritten after each run
  Metrics=FILE      the metrics file (node_exporter's textfile format),
                    rewritten after each run; every series carries the
                    label fleet="NAME", the fleet file's name
A hook runs without a shell, for at most 60 s; a failed one is reported
and changes nothing. It finds the details in KT560AX_CONTROLLER, _PORT,
_ADDRESS, _FILE (one line per controller), _OUTCOME, _EXIT, _SUMMARY and
the counts _CARDS_ADDED, _CARDS_REMOVED and _CARDS_CHANGED. Summaries,
hooks and commit messages name card slots, never a card record or the PIN.
A suspicious backup is kept and committed (its commit line begins with
"suspicious:"), OnFailure runs for it with KT560AX_OUTCOME=suspicious, the
run exits 4, and --keep never removes the last good backup; once the loss
is known to be meant, kt560ax accept FLEET.ini SECTION clears it.

Progress goes to standard error: a progress bar on a terminal, one line
per category otherwise.

Every save, load and verify, from the window or here, adds a line to the
job log, $XDG_STATE_HOME/kt560ax/jobs.log (~/.local/state/kt560ax/jobs.log).

Exit status:
  0  done
  1  usage
  2  file error; run: also a state, report, metrics or digests file not
     written, or the push failed PushFailLimit runs in a row; history
     --export: an encrypted version and no --identity that opens it
  3  communication error
  4  differences found; status: a controller not fine; run: a suspicious backup
  5  interrupted (SIGINT, SIGTERM)
  6  the port cannot be opened
A backup file set in use by another job, or a backup that is no regular
file, is a file error: the job starts nothing.
A fleet exits with the most severe status of its jobs, most severe first:
5, 1, 2, 6, 3, 4, 0.
)");
}

shell::Result<CliOptions> parseOptions(const QStringList& arguments, const QString& iniFile) {
    CliOptions options;
    options.settings = shell::readSettings(iniFile);
    options.port = QStringLiteral("COM%1").arg(options.settings.intComPort);
    const auto fail = [&](const QString& text) {
        // The help of the command when one was named, else the whole.
        const bool known =
            std::any_of(commandTable().cbegin(), commandTable().cend(), [&](const CommandRow& c) {
                return c.help && options.command == QLatin1String(c.name);
            });
        return shell::Error{
            shell::ErrorCode::Invalid,
            text +
                (known ? QStringLiteral("\nkt560ax %1 --help shows its usage.").arg(options.command)
                       : QStringLiteral("\nkt560ax --help lists the commands and options."))};
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        QString value;
        bool inline_ = false;
        if (argument.startsWith(QLatin1String("--")) && argument.contains(u'=')) {
            value = argument.mid(argument.indexOf(u'=') + 1);
            argument = argument.left(argument.indexOf(u'='));
            inline_ = true;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            // COMMAND --help: that command's help; else the whole.
            options.info = helpText();
            for (const QString& word : arguments)
                for (const CommandRow& command : commandTable())
                    if (command.help && word == QLatin1String(command.name))
                        options.info = commandHelp(command);
            return options;
        }
        if (argument == QLatin1String("--version")) {
            options.info = QStringLiteral("kt560ax 2.0\n");
            return options;
        }
        if (const OptionRow* option = findOption(argument)) {
            if (option->value && !inline_) {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("%1 needs a value.").arg(argument));
                value = arguments[++i];
            }
            if (const QString mistake = option->take(options, value); !mistake.isEmpty())
                return fail(mistake);
        } else if (argument.startsWith(u'-') && argument.size() > 1) {
            {
                // The options of the command named so far, else all of them.
                QStringList names = optionNames();
                for (const CommandRow& command : commandTable())
                    if (command.help && options.command == QLatin1String(command.name) &&
                        *command.options)
                        names = QString::fromLatin1(command.options).split(u' ') +
                                QStringList{"--help"};
                return fail(QStringLiteral("Unknown option %1.%2 Options: %3.")
                                .arg(argument, didYouMean(nearestName(argument, names)),
                                     names.join(QStringLiteral(", "))));
            }
        } else if (options.command.isEmpty()) {
            options.command = argument;
        } else {
            options.files.append(argument);
        }
    }
    options.settings.clampTimes();

    QStringList commands;
    for (const CommandRow& command : commandTable())
        if (command.help)
            commands.append(QString::fromLatin1(command.name));
    if (options.command.isEmpty())
        return fail(QStringLiteral("Name a command: %1.").arg(commands.join(QStringLiteral(", "))));
    const auto command =
        std::find_if(commandTable().cbegin(), commandTable().cend(),
                     [&](const CommandRow& c) { return options.command == QLatin1String(c.name); });
    if (command == commandTable().cend())
        return fail(QStringLiteral("Unknown command \"%1\".%2 Commands: %3.")
                        .arg(options.command, didYouMean(nearestName(options.command, commands)),
                             commands.join(QStringLiteral(", "))));
    // history --export N takes the folder to write into as well.
    const int files = command->files + (options.exportVersion > 0 ? 1 : 0);
    if (options.exportVersion > 0 && options.command != QLatin1String("history"))
        return fail(QStringLiteral("--export goes with history."));
    if (!options.identity.isEmpty() && options.exportVersion == 0)
        return fail(QStringLiteral("--identity goes with history --export N DIR."));
    if (options.reencrypt && options.command != QLatin1String("run"))
        return fail(QStringLiteral("--reencrypt goes with run."));
    // Elsewhere a mask would be a promise the command does not keep.
    if (options.mask && options.command != QLatin1String("diff"))
        return fail(QStringLiteral("--mask goes with diff."));
    const bool applying = options.command.startsWith(QLatin1String("apply"));
    if (!applying && options.dryRun)
        return fail(QStringLiteral("--dry-run goes with apply."));
    if (!applying && options.command != QLatin1String("run") && !options.controllers.isEmpty())
        return fail(QStringLiteral("--controllers goes with run and apply."));
    if (options.problems && options.command != QLatin1String("status"))
        return fail(QStringLiteral("--problems goes with status."));
    const bool site =
        options.command == QLatin1String("status") || options.command == QLatin1String("report");
    if (!options.remote.isEmpty() && !site)
        return fail(QStringLiteral("--remote goes with status and report."));
    if (!options.remote.isEmpty() && !options.files.isEmpty())
        return fail(QStringLiteral("--remote stands in place of fleet files, not beside \"%1\".")
                        .arg(options.files.first()));
    const bool filesWrong =
        files == kOneOrMore ? options.files.isEmpty() : options.files.size() != files;
    if (options.remote.isEmpty() && filesWrong) {
        // What is missing, or one too many, by the names of the usage.
        // The usage with fleet files, before " | --remote URL".
        QStringList wanted = QString::fromLatin1(command->usage)
                                 .section(QStringLiteral(" | "), 0, 0)
                                 .split(u' ')
                                 .mid(1);
        wanted.removeIf([](const QString& w) { return w.startsWith(u'[') || w.startsWith(u'-'); });
        if (options.exportVersion > 0)
            wanted.append(QStringLiteral("DIR"));
        const QString usage =
            QStringLiteral("kt560ax %1 %2").arg(options.command, wanted.join(u' ')).trimmed();
        if (files == kOneOrMore || options.files.size() < files)
            return fail(
                QStringLiteral("%1 needs %2: %3")
                    .arg(options.command,
                         files == kOneOrMore
                             ? wanted.value(0)
                             : wanted.mid(options.files.size()).join(QStringLiteral(" and ")),
                         usage));
        return fail(QStringLiteral("%1 takes %2, not \"%3\" as well: %4")
                        .arg(options.command,
                             wanted.isEmpty() ? QStringLiteral("no file")
                                              : wanted.join(QStringLiteral(" and ")),
                             options.files.value(files), usage));
    }
    // A restore writes into a controller: never into whichever port the
    // window used last.
    if (options.command == QLatin1String("load") && !options.portGiven)
        return fail(QStringLiteral("load writes into a controller: name its port with --port "
                                   "(the window's is %1).")
                        .arg(options.port));
    if (options.from > options.to)
        return fail(QStringLiteral("--from must not be above --to."));
    if (options.portGiven) {
        if (const auto address = link::parsePortName(options.port, iniFile); !address)
            return fail(QStringLiteral("--port: %1").arg(address.error().message));
    }
    return options;
}

} // namespace kt::cli
