#include "options.h"

#include "shell/text_format.h"

#include "link/port_naming.h"
#include "link/port_settings.h"

#include <QMap>
#include <QRegularExpression>

namespace kt::cli {

QString helpText() {
    return QStringLiteral(R"(Usage: kt560ax COMMAND [OPTIONS] [FILE...]

Backs up a KT550AX access controller into a backup file and restores it,
with the same files and rules as the KT560AX Data Backup System window.

Commands:
  save FILE         read the chosen categories from the controller into FILE
  load FILE         write the chosen categories of FILE into the controller
  verify FILE       read the chosen categories from the controller and compare
                    them with FILE, writing nothing; lists each difference
  diff OLD NEW      compare two backups record by record (card files too):
                    added, removed and changed records by category
  log [-n N]        the last N jobs of the job log (default 20)
  run FLEET.ini     back up every controller of a fleet file (see below)
  scan              list the controller addresses that answer on a port

Options:
  --port P          COM1..COM8 (mapped in Language.ini as in the window), a
                    device path such as /dev/ttyUSB0, tcp://HOST:PORT (also
                    socket://HOST:PORT) for a serial device server in raw
                    mode, or rfc2217://HOST:PORT for one in RFC 2217 mode;
                    default: the window's port
  --address N       controller address 1..99 (default 1)
  --only LIST       categories, comma-separated, of: master, system, appset,
                    timezone, holiday, cards, flow, doset, diset (default all)
  --cards N         user cards 1..9999; save: default 9999; load and verify:
                    default the card slots the backup covers, else 9999
  --settings TEXT   line settings such as 19200,e,8,1 (default the window's)
  --tx-delay MS     pause before each request, 10..100 ms
  --rx-delay MS     pause before each reply wait, 10..100 ms
  --timeout MS      reply time-out, 200..1000 ms (times outside the limits
                    are brought to them, as in the window)
  --yes             load: restore even when the backup stopped before its
                    end, holds fewer cards than chosen or lacks a category;
                    without it such a load writes nothing and says why
  --quiet           no progress, only errors
  --json            a summary as JSON on standard output
  --keep N          run: keep the N newest complete backups per controller
                    (newest by their manifest's Finished time; the backup
                    just made is never removed)
  --from N --to N   scan: the addresses to try (default 1 to 99)
  -n N              log: how many jobs to show
  --help            this text
  --version         the program's version

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

Progress goes to standard error: a progress bar on a terminal, one line
per category otherwise.

Every save, load and verify, from the window or here, adds a line to the
job log, $XDG_STATE_HOME/kt560ax/jobs.log (~/.local/state/kt560ax/jobs.log).

Exit status:
  0  done            3  communication error   6  the port cannot be opened
  1  usage           4  differences found
  2  file error      5  interrupted (SIGINT, SIGTERM)
A backup file set in use by another job, or a backup that is no regular
file, is a file error: the job starts nothing.
A fleet exits with the highest status of its jobs.
)");
}

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

} // namespace

std::optional<CliOptions> parseOptions(const QStringList& arguments, const QString& iniFile,
                                       QString* error, QString* info) {
    CliOptions options;
    options.settings = shell::readSettings(iniFile);
    options.port = QStringLiteral("COM%1").arg(options.settings.intComPort);
    const auto fail = [&](const QString& text) {
        *error = text + QStringLiteral("\nkt560ax --help lists the commands and options.");
        return std::nullopt;
    };
    static const QStringList withValue = {"--port",     "--address",  "--only",     "--cards",
                                          "--settings", "--tx-delay", "--rx-delay", "--timeout",
                                          "--keep",     "--from",     "--to",       "-n"};
    bool portGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        QString value;
        if (argument.startsWith(QLatin1String("--")) && argument.contains(u'=')) {
            value = argument.mid(argument.indexOf(u'=') + 1);
            argument = argument.left(argument.indexOf(u'='));
        } else if (withValue.contains(argument)) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("%1 needs a value.").arg(argument));
            value = arguments[++i];
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            *info = helpText();
            return std::nullopt;
        }
        if (argument == QLatin1String("--version")) {
            *info = QStringLiteral("kt560ax 2.0\n");
            return std::nullopt;
        }
        if (argument == QLatin1String("--port")) {
            options.port = value.trimmed();
            portGiven = true;
        } else if (argument == QLatin1String("--address")) {
            if (!takeNumber(value, 1, 99, &options.address))
                return fail(QStringLiteral("--address takes 1 to 99, not \"%1\".").arg(value));
        } else if (argument == QLatin1String("--only")) {
            options.categories.clear();
            for (const QString& name : value.split(u',', Qt::SkipEmptyParts)) {
                const engine::Category* category = engine::findCategory(name.toUtf8());
                if (!category)
                    return fail(
                        QStringLiteral("--only: there is no category \"%1\".").arg(name.trimmed()));
                if (!options.categories.contains(category))
                    options.categories.append(category);
            }
            if (options.categories.isEmpty())
                return fail(QStringLiteral("--only needs at least one category."));
        } else if (argument == QLatin1String("--cards")) {
            int cards = 0;
            if (!takeNumber(value, 1, 9999, &cards))
                return fail(QStringLiteral("--cards takes 1 to 9999, not \"%1\".").arg(value));
            options.cards = cards;
        } else if (argument == QLatin1String("--settings")) {
            options.settings.strSettings = shell::trimBlanks(value.toLatin1());
            QString why;
            if (!link::parsePortSettings(options.settings.strSettings, &why))
                return fail(QStringLiteral("--settings: %1").arg(why));
        } else if (argument == QLatin1String("--tx-delay") ||
                   argument == QLatin1String("--rx-delay") ||
                   argument == QLatin1String("--timeout")) {
            float* time = argument == QLatin1String("--tx-delay") ? &options.settings.sngTxDelay
                          : argument == QLatin1String("--rx-delay")
                              ? &options.settings.sngRxDelay
                              : &options.settings.sngRxTimeOut;
            if (!takeTime(value, time))
                return fail(
                    QStringLiteral("%1 takes milliseconds, not \"%2\".").arg(argument, value));
        } else if (argument == QLatin1String("--keep")) {
            if (!takeNumber(value, 1, 100000, &options.keep))
                return fail(
                    QStringLiteral("--keep takes a number of backups, not \"%1\".").arg(value));
        } else if (argument == QLatin1String("--from") || argument == QLatin1String("--to")) {
            if (!takeNumber(value, 1, 99,
                            argument == QLatin1String("--from") ? &options.from : &options.to))
                return fail(QStringLiteral("%1 takes an address 1 to 99, not \"%2\".")
                                .arg(argument, value));
        } else if (argument == QLatin1String("-n")) {
            if (!takeNumber(value, 1, 100000, &options.lines))
                return fail(QStringLiteral("-n takes a number of jobs, not \"%1\".").arg(value));
        } else if (argument == QLatin1String("--yes") || argument == QLatin1String("-y")) {
            options.yes = true;
        } else if (argument == QLatin1String("--quiet") || argument == QLatin1String("-q")) {
            options.quiet = true;
        } else if (argument == QLatin1String("--json")) {
            options.json = true;
        } else if (argument.startsWith(u'-') && argument.size() > 1) {
            return fail(QStringLiteral("Unknown option %1.").arg(argument));
        } else if (options.command.isEmpty()) {
            options.command = argument;
        } else {
            options.files.append(argument);
        }
    }
    options.settings.clampTimes();

    static const QMap<QString, int> fileCounts = {
        {"save", 1}, {"load", 1}, {"verify", 1}, {"diff", 2}, {"run", 1}, {"scan", 0}, {"log", 0}};
    if (options.command.isEmpty())
        return fail(QStringLiteral("Name a command: save, load, verify, diff, run, scan or log."));
    if (!fileCounts.contains(options.command))
        return fail(QStringLiteral("Unknown command \"%1\".").arg(options.command));
    const int files = fileCounts.value(options.command);
    if (options.files.size() != files)
        return fail(files == 2   ? QStringLiteral("%1 takes two files.").arg(options.command)
                    : files == 1 ? QStringLiteral("%1 takes one file.").arg(options.command)
                                 : QStringLiteral("%1 takes no file.").arg(options.command));
    if (options.from > options.to)
        return fail(QStringLiteral("--from must not be above --to."));
    if (portGiven) {
        QString why;
        if (!link::parsePortName(options.port, iniFile, &why))
            return fail(QStringLiteral("--port: %1").arg(why));
    }
    return options;
}

} // namespace kt::cli
