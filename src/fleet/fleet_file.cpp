#include "fleet_file.h"

#include "fleet_include.h"
#include "link/trace.h"
#include "shell/regular_file.h"
#include "shell/text_format.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <iterator>

namespace kt::fleet {

QString FleetController::backupFolder() const {
    return QDir(folder).filePath(name);
}

namespace {

bool takeNumber(const QString& text, int low, int high, int* value) {
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

// A time such as 26h, 90m, 2d or 30s; a bare number is in `unitSeconds`.
bool takeDuration(const QString& text, qint64 unitSeconds, qint64 low, qint64 high,
                  qint64* seconds) {
    static const QRegularExpression form(QStringLiteral("^(\\d{1,7})\\s*([smhdSMHD]?)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const QString unit = match.captured(2).toLower();
    const qint64 scale = unit == u's'   ? 1
                         : unit == u'm' ? 60
                         : unit == u'h' ? 3600
                         : unit == u'd' ? 86400
                                        : unitSeconds;
    const qint64 value = match.captured(1).toLongLong() * scale;
    if (value < low || value > high)
        return false;
    *seconds = value;
    return true;
}

// A name git takes for a branch, kept to plain characters.
bool usableBranch(const QString& name) {
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_./-]{0,99}$"));
    return form.match(name).hasMatch() && !name.contains(QLatin1String("..")) &&
           !name.contains(QLatin1String("//")) && !name.endsWith(u'/') && !name.endsWith(u'.') &&
           !name.endsWith(QLatin1String(".lock"));
}

// The branch of a fleet that names none: its file's name, in the characters
// a branch may hold.
QString defaultBranch(const QString& fileName) {
    QString name = QFileInfo(fileName).completeBaseName();
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_' && c != u'-')
            c = u'-';
    return usableBranch(name) ? name : QStringLiteral("fleet");
}

using Report = std::function<void(const QString&)>;

// The keys of a controller's section, as messages spell them. Each may also
// stand in [fleet], as the default of every section that does not give it.
constexpr const char* kControllerKeys[] = {"Port", "Address", "Only",   "Cards",
                                           "Echo", "Folder",  "MaxLoss"};
constexpr int kControllerKeyCount = int(std::size(kControllerKeys));

// The index of a controller's key in kControllerKeys, in any letter case;
// -1 for another key.
int controllerKeyIndex(const QString& key) {
    for (int i = 0; i < kControllerKeyCount; ++i)
        if (key.compare(QLatin1String(kControllerKeys[i]), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// "Port, Address, ... or MaxLoss".
QString controllerKeyList() {
    QStringList names;
    for (const char* name : kControllerKeys)
        names.append(QLatin1String(name));
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

void takeFleetKey(FleetSettings& settings, const QString& key, const QString& spelt,
                  const QString& value, const QString& fleetFolder, const Report& error) {
    const auto hook = [&](QStringList* command, const char* name) {
        *command = splitCommand(value);
        // A program named by a relative path is the fleet's, whatever the
        // folder the run starts in; a bare name is looked up in PATH.
        if (!command->isEmpty() && command->first().contains(u'/') &&
            QDir::isRelativePath(command->first()))
            command->first() =
                QDir::cleanPath(QDir(fleetFolder).absoluteFilePath(command->first()));
        if (command->isEmpty())
            error(QStringLiteral("%1 takes a program and its arguments, not \"%2\".")
                      .arg(QLatin1String(name), value));
    };
    qint64 seconds = 0;
    if (key == QLatin1String("history")) {
        if (value.isEmpty() || value.startsWith(u'-'))
            error(QStringLiteral("History takes a folder, not \"%1\".").arg(value));
        else
            settings.history = QDir::cleanPath(QDir(fleetFolder).absoluteFilePath(value));
    } else if (key == QLatin1String("encrypt")) {
        if (value.isEmpty() || value.startsWith(u'-'))
            error(QStringLiteral("Encrypt takes a file of age recipients (age1... lines), not "
                                 "\"%1\".")
                      .arg(value));
        else
            settings.encrypt = QDir::cleanPath(QDir(fleetFolder).absoluteFilePath(value));
    } else if (key == QLatin1String("remote")) {
        // A URL (scheme://...) or an ssh address (user@host:path) as it is,
        // a path from the fleet file's folder.
        static const QRegularExpression address(
            QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*://|[^/:]+@[^/:]+:)"));
        if (value.isEmpty() || value.startsWith(u'-'))
            error(QStringLiteral("Remote takes a path or a URL, not \"%1\".")
                      .arg(RemoteAddress(value).shown()));
        else
            settings.remote =
                RemoteAddress(address.match(value).hasMatch()
                                  ? value
                                  : QDir::cleanPath(QDir(fleetFolder).absoluteFilePath(value)));
    } else if (key == QLatin1String("maxage")) {
        if (takeDuration(value, 3600, 60, 366 * 86400, &seconds))
            settings.maxAgeSeconds = seconds;
        else
            error(QStringLiteral("MaxAge takes hours, or a number with s, m, h or d, from 1 "
                                 "minute to 366 days, not \"%1\".")
                      .arg(value));
    } else if (key == QLatin1String("retries")) {
        if (!takeNumber(value, 0, 10, &settings.retries))
            error(QStringLiteral("Retries takes 0 to 10, not \"%1\".").arg(value));
    } else if (key == QLatin1String("retrypause")) {
        if (takeDuration(value, 1, 0, 3600, &seconds))
            settings.retryPauseSeconds = int(seconds);
        else
            error(QStringLiteral("RetryPause takes 0 to 3600 seconds, not \"%1\".").arg(value));
    } else if (key == QLatin1String("pushtimeout")) {
        if (takeDuration(value, 1, 1, 3600, &seconds))
            settings.pushTimeoutSeconds = int(seconds);
        else
            error(QStringLiteral("PushTimeout takes 1 to 3600 seconds, not \"%1\".").arg(value));
    } else if (key == QLatin1String("pushfaillimit")) {
        if (!takeNumber(value, 1, 1000, &settings.pushFailLimit))
            error(QStringLiteral("PushFailLimit takes 1 to 1000, not \"%1\".").arg(value));
    } else if (key == QLatin1String("jobs")) {
        if (!takeNumber(value, 1, 256, &settings.jobs))
            error(QStringLiteral("Jobs takes 1 to 256, not \"%1\".").arg(value));
    } else if (key == QLatin1String("jobsperprocess")) {
        if (!takeNumber(value, 1, 64, &settings.jobsPerProcess))
            error(QStringLiteral("JobsPerProcess takes 1 to 64, not \"%1\".").arg(value));
    } else if (key == QLatin1String("report") || key == QLatin1String("metrics")) {
        if (value.isEmpty() || value.startsWith(u'-'))
            error(QStringLiteral("%1 takes a file, not \"%2\".").arg(spelt, value));
        else
            (key == QLatin1String("report") ? settings.report : settings.metrics) =
                QDir::cleanPath(QDir(fleetFolder).absoluteFilePath(value));
    } else if (key == QLatin1String("branch")) {
        if (!usableBranch(value))
            error(QStringLiteral("Branch takes a branch name of letters, digits, '_', '-', '.' and "
                                 "'/', not \"%1\".")
                      .arg(value));
        else
            settings.branch = value;
    } else if (key == QLatin1String("onchange")) {
        hook(&settings.onChange, "OnChange");
    } else if (key == QLatin1String("onfailure")) {
        hook(&settings.onFailure, "OnFailure");
    } else if (key == QLatin1String("ondone")) {
        hook(&settings.onDone, "OnDone");
    } else {
        error(shell::fillIn(
            QStringLiteral(
                "unknown key \"%1\" in [fleet]: use History, Encrypt, Remote, Branch, "
                "PushTimeout, PushFailLimit, MaxAge, Retries, RetryPause, Jobs, "
                "JobsPerProcess, OnChange, OnFailure, OnDone, Report, Metrics or Include, or a "
                "controller's key for every section: %2."),
            {spelt, controllerKeyList()}));
    }
}

void takeControllerKey(FleetController& controller, const QString& key, const QString& spelt,
                       const QString& value, const QString& fleetFolder, const Report& error) {
    if (key == QLatin1String("port")) {
        controller.port = value;
    } else if (key == QLatin1String("address")) {
        if (!takeNumber(value, 1, 99, &controller.address))
            error(QStringLiteral("Address takes 1 to 99, not \"%1\".").arg(value));
    } else if (key == QLatin1String("cards")) {
        if (!takeNumber(value, 1, engine::kMaxCards, &controller.cards))
            error(shell::fillIn(QStringLiteral("Cards takes 1 to %1, not \"%2\"."),
                                {QString::number(engine::kMaxCards), value}));
    } else if (key == QLatin1String("echo")) {
        if (value != QLatin1String("0") && value != QLatin1String("1"))
            error(QStringLiteral("Echo takes 0 or 1, not \"%1\".").arg(value));
        controller.echo = value == QLatin1String("1");
    } else if (key == QLatin1String("only")) {
        controller.categories.clear();
        for (const QString& name : value.split(u',', Qt::SkipEmptyParts)) {
            const engine::Category* category = engine::findCategory(name.toUtf8());
            if (!category)
                error(QStringLiteral("there is no category \"%1\".").arg(name.trimmed()));
            else if (!controller.categories.contains(category))
                controller.categories.append(category);
        }
        if (controller.categories.isEmpty())
            error(QStringLiteral("Only names no category."));
    } else if (key == QLatin1String("maxloss")) {
        if (!takeNumber(value, 1, 100, &controller.maxLoss))
            error(QStringLiteral("MaxLoss takes a whole percent from 1 to 100, not \"%1\".")
                      .arg(value));
    } else if (key == QLatin1String("folder")) {
        // A name that begins with '-' would read as an option.
        if (value.isEmpty() || value.startsWith(u'-'))
            error(QStringLiteral("Folder takes a folder, not \"%1\".").arg(value));
        else
            controller.folder = QDir::cleanPath(QDir(fleetFolder).absoluteFilePath(value));
    } else {
        error(shell::fillIn(QStringLiteral("unknown key \"%1\": use %2."),
                            {spelt, controllerKeyList()}));
    }
}

// Reads the sections of a fleet file, and then of the files it includes,
// into one fleet, and gathers every mistake on the way.
class FleetReader {
  public:
    FleetReader(const QString& fileName, const QString& fleetFolder)
        : fileName_(fileName), folder_(fleetFolder) {
        fleet_.file = fileName;
        fleet_.settings.branch = defaultBranch(fileName);
    }

    // Reads one file's text; an included file holds controllers' sections only.
    void read(const QByteArray& text, const QString& name, bool included);

    // Reads the files of the fleet file's Include=, if it gives one.
    void readIncluded(const IncludeReader& include) {
        if (includeLine_ == 0)
            return;
        const shell::Result<QList<FleetText>> files =
            include ? include(includePattern_) : QList<FleetText>{};
        if (!files)
            errorAt(fileName_, includeLine_, files.error().message);
        else if (files->isEmpty())
            errorAt(fileName_, includeLine_,
                    QStringLiteral("Include=%1 names no file.").arg(includePattern_));
        else
            for (const FleetText& file : *files)
                read(file.text, file.name, true);
    }

    // The fleet, each section with the defaults of [fleet] for the keys it
    // does not give; or every mistake.
    shell::Result<Fleet> finish();

  private:
    void errorAt(const QString& file, int line, const QString& what) {
        errors_.append(
            shell::fillIn(QStringLiteral("%1 line %2: %3"), {file, QString::number(line), what}));
    }
    void fleetKey(const QString& key, const QString& spelt, const QString& value, int line,
                  const Report& error);

    const QString fileName_, folder_;
    Fleet fleet_;
    QStringList errors_;
    bool fleetSeen_ = false;
    QString includePattern_;
    int includeLine_ = 0;
    // Where each controller's section begins, by its name in lower case.
    QHash<QString, std::pair<QString, int>> sections_;
    // Of each controller: the keys its section gives (bit i for
    // kControllerKeys[i]), and whether a Port line of it was refused, which
    // says all there is to say of its port.
    struct Given {
        unsigned keys = 0;
        bool refusedPort = false;
    };
    QList<Given> given_;
    // The controllers' keys that [fleet] gives for every section, checked
    // once where they stand.
    struct Default {
        int key;
        QString spelt, value;
    };
    QList<Default> defaults_;
    bool refusedDefaultPort_ = false;
};

void FleetReader::fleetKey(const QString& key, const QString& spelt, const QString& value, int line,
                           const Report& error) {
    if (const int index = controllerKeyIndex(key); index >= 0) {
        FleetController checked;
        bool wrong = false;
        takeControllerKey(checked, key, spelt, value, folder_, [&](const QString& what) {
            wrong = true;
            error(what);
        });
        if (!wrong)
            defaults_.append({index, spelt, value});
    } else if (key == QLatin1String("include")) {
        if (value.isEmpty() || value.startsWith(u'-')) {
            error(QStringLiteral("Include takes a file, or files such as buildings/*.ini, not "
                                 "\"%1\".")
                      .arg(value));
        } else {
            includePattern_ = value;
            includeLine_ = line;
        }
    } else {
        takeFleetKey(fleet_.settings, key, spelt, value, folder_, error);
    }
}

void FleetReader::read(const QByteArray& text, const QString& name, bool included) {
    int number = 0;
    const Report error = [&](const QString& what) { errorAt(name, number, what); };
    static const QRegularExpression usableName(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]*$"));
    const QList<QByteArray> lines =
        QByteArray(text).replace("\r\n", "\n").replace('\r', '\n').split('\n');
    enum class In { Nothing, Fleet, Controller, BadSection } in = In::Nothing;
    // The line of each key of the section being read.
    QHash<QString, int> keys;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        number = int(i) + 1;
        utf8.resetState();
        const QString line = QString(utf8(lines[i])).trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        // A byte that is no UTF-8 would reach a path or a port as U+FFFD.
        const QString notText =
            utf8.hasError()
                ? QStringLiteral("this line is not UTF-8 text: save the fleet file as UTF-8.")
                : QString();
        if (line.startsWith(u'[')) {
            const QString section =
                line.endsWith(u']') ? line.mid(1, line.size() - 2).trimmed() : QString();
            keys.clear();
            if (!notText.isEmpty() || !usableName.match(section).hasMatch()) {
                error(!notText.isEmpty() ? notText
                                         : QStringLiteral("\"%1\" is not a usable controller name: "
                                                          "use letters, digits, '_', '-' and '.'.")
                                               .arg(line));
                in = In::BadSection;
            } else if (section.compare(QLatin1String(kFleetSection), Qt::CaseInsensitive) == 0) {
                if (included)
                    error(QStringLiteral("[fleet] stands only in the fleet file %1, not in a file "
                                         "it includes.")
                              .arg(fileName_));
                else if (fleetSeen_)
                    error(QStringLiteral("[fleet] is there twice."));
                fleetSeen_ = fleetSeen_ || !included;
                in = included ? In::BadSection : In::Fleet;
            } else {
                const auto first = sections_.constFind(section.toLower());
                if (first == sections_.cend())
                    sections_.insert(section.toLower(), {name, number});
                else if (first->first == name)
                    error(shell::fillIn(QStringLiteral("controller [%1] is named twice: first on "
                                                       "line %2."),
                                        {section, QString::number(first->second)}));
                else
                    error(shell::fillIn(QStringLiteral("controller [%1] is named twice: first in "
                                                       "%2 line %3."),
                                        {section, first->first, QString::number(first->second)}));
                FleetController controller;
                controller.name = section;
                controller.folder = folder_;
                controller.file = name;
                controller.line = number;
                fleet_.controllers.append(controller);
                given_.append(Given());
                in = In::Controller;
            }
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) {
            error(!notText.isEmpty()
                      ? notText
                      : QStringLiteral("\"%1\" is neither [controller] nor Key=value.").arg(line));
            continue;
        }
        const QString spelt = line.left(equals).trimmed();
        const QString key = spelt.toLower();
        const QString value = line.mid(equals + 1).trimmed();
        if (in == In::Nothing) {
            error(QStringLiteral("a key before the first [controller] section."));
            continue;
        }
        if (in == In::BadSection) // its keys were reported with its header
            continue;
        // A key given twice would leave one of its values unsaid.
        QString refused = notText;
        if (const auto first = keys.constFind(key); first != keys.cend())
            refused = shell::fillIn(QStringLiteral("%1 is given twice in this section: first on "
                                                   "line %2."),
                                    {spelt, QString::number(*first)});
        else
            keys.insert(key, number);
        // A control character would cut a path or a port short of the
        // value that the tables show, or move the terminal that shows it.
        const auto control = std::find_if(value.cbegin(), value.cend(), [](QChar c) {
            return c.category() == QChar::Other_Control && c != u'\t';
        });
        if (refused.isEmpty() && control != value.cend())
            refused = shell::fillIn(
                QStringLiteral("%1 holds the control character %2, which no value may hold."),
                {spelt, link::displayText(QString(*control))});
        const bool port = key == QLatin1String("port");
        if (!refused.isEmpty()) {
            error(refused);
            if (in == In::Controller)
                given_.last().refusedPort = given_.last().refusedPort || port;
            else
                refusedDefaultPort_ = refusedDefaultPort_ || port;
        } else if (in == In::Fleet) {
            fleetKey(key, spelt, value, number, error);
        } else if (key == QLatin1String("include")) {
            error(included ? QStringLiteral("a file that the fleet file includes includes nothing: "
                                            "Include stands only in [fleet] of the fleet file.")
                           : QStringLiteral("Include stands only in [fleet]."));
        } else {
            takeControllerKey(fleet_.controllers.last(), key, spelt, value, folder_, error);
            if (const int index = controllerKeyIndex(key); index >= 0)
                given_.last().keys |= 1u << index;
        }
    }
}

shell::Result<Fleet> FleetReader::finish() {
    const Report ignored = [](const QString&) {};
    for (qsizetype i = 0; i < fleet_.controllers.size(); ++i) {
        FleetController& controller = fleet_.controllers[i];
        const bool givesPort = given_[i].keys & (1u << controllerKeyIndex(QStringLiteral("port")));
        for (const Default& value : std::as_const(defaults_))
            if (!(given_[i].keys & (1u << value.key)))
                takeControllerKey(controller, value.spelt.toLower(), value.spelt, value.value,
                                  folder_, ignored);
        const bool portUnsaid = given_[i].refusedPort || (refusedDefaultPort_ && !givesPort);
        if (controller.port.isEmpty() && !portUnsaid)
            errorAt(controller.file, controller.line,
                    QStringLiteral("controller [%1] has no Port.").arg(controller.name));
    }
    if (fleet_.controllers.isEmpty() && errors_.isEmpty())
        errors_.append(QStringLiteral("%1: no [controller] section.").arg(fileName_));
    if (!errors_.isEmpty())
        return shell::Error{shell::ErrorCode::Invalid, errors_.join(u'\n'), fileName_};
    return fleet_;
}

} // namespace

shell::Result<Fleet> parseFleet(const QByteArray& text, const QString& fileName,
                                const QString& fleetFolder, const IncludeReader& include) {
    FleetReader reader(fileName, fleetFolder);
    reader.read(text, fileName, false);
    reader.readIncluded(include);
    return reader.finish();
}

shell::Result<Fleet> readFleetFile(const QString& fleetFile) {
    const shell::Result<QByteArray> text = shell::readRegularFile(fleetFile, kMaxFleetBytes);
    if (!text)
        return shell::Error{text.error().code,
                            text.error().message + QStringLiteral(" (the fleet file)."), fleetFile};
    return parseFleet(
        *text, fleetFile, QFileInfo(fleetFile).absolutePath(),
        [&](const QString& pattern) { return readIncludedFiles(pattern, fleetFile); });
}

Fleet chosenControllers(const Fleet& fleet, const QStringList& names) {
    Fleet chosen = fleet;
    if (!names.isEmpty())
        chosen.controllers.removeIf([&](const FleetController& controller) {
            return !names.contains(controller.name, Qt::CaseInsensitive);
        });
    return chosen;
}

QStringList unknownControllers(const Fleet& fleet, const QStringList& names) {
    QStringList known, unknown;
    for (const FleetController& controller : fleet.controllers)
        known.append(controller.name);
    for (const QString& name : names)
        if (!known.contains(name, Qt::CaseInsensitive))
            unknown.append(name);
    return unknown;
}

QStringList splitCommand(const QString& text) {
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quote == u'\'') {
            if (c == u'\'')
                quote = QChar();
            else
                word += c;
        } else if (quote == u'"') {
            if (c == u'"')
                quote = QChar();
            else if (c == u'\\' && i + 1 < text.size() &&
                     (text[i + 1] == u'"' || text[i + 1] == u'\\'))
                word += text[++i];
            else
                word += c;
        } else if (c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            inWord = true;
            if (c == u'\'' || c == u'"')
                quote = c;
            else if (c == u'\\' && i + 1 < text.size())
                word += text[++i];
            else
                word += c;
        }
    }
    if (!quote.isNull())
        return {};
    if (inWord)
        words.append(word);
    return words;
}

} // namespace kt::fleet
