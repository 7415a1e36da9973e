#include "fleet_file.h"

#include "link/trace.h"
#include "shell/regular_file.h"
#include "shell/text_format.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>

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

void takeMaxLoss(const QString& value, int* maxLoss, const Report& error) {
    if (!takeNumber(value, 1, 100, maxLoss))
        error(
            QStringLiteral("MaxLoss takes a whole percent from 1 to 100, not \"%1\".").arg(value));
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
    } else if (key == QLatin1String("maxloss")) {
        takeMaxLoss(value, &settings.maxLoss, error);
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
    } else if (QStringList{"port", "address", "only", "cards", "echo", "folder"}.contains(key)) {
        error(QStringLiteral("[fleet] holds the settings of the run: a controller may not be "
                             "called fleet."));
    } else {
        error(
            QStringLiteral(
                "unknown key \"%1\" in [fleet]: use History, Encrypt, Remote, Branch, PushTimeout, "
                "PushFailLimit, MaxAge, MaxLoss, Retries, RetryPause, Jobs, OnChange, "
                "OnFailure, OnDone, Report or Metrics.")
                .arg(spelt));
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
        takeMaxLoss(value, &controller.maxLoss, error);
    } else if (key == QLatin1String("folder")) {
        // A name that begins with '-' would read as an option.
        if (value.isEmpty() || value.startsWith(u'-'))
            error(QStringLiteral("Folder takes a folder, not \"%1\".").arg(value));
        else
            controller.folder = QDir::cleanPath(QDir(fleetFolder).absoluteFilePath(value));
    } else {
        error(QStringLiteral("unknown key \"%1\": use Port, Address, Only, Cards, Echo, Folder or "
                             "MaxLoss.")
                  .arg(spelt));
    }
}

} // namespace

shell::Result<Fleet> parseFleet(const QByteArray& text, const QString& fileName,
                                const QString& fleetFolder) {
    Fleet fleet;
    QStringList errors;
    fleet.settings.branch = defaultBranch(fileName);
    int number = 0;
    const auto errorAt = [&](int line, const QString& what) {
        errors.append(shell::fillIn(QStringLiteral("%1 line %2: %3"),
                                    {fileName, QString::number(line), what}));
    };
    const Report error = [&](const QString& what) { errorAt(number, what); };
    static const QRegularExpression usableName(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]*$"));
    const QList<QByteArray> lines =
        QByteArray(text).replace("\r\n", "\n").replace('\r', '\n').split('\n');
    enum class In { Nothing, Fleet, Controller, BadSection } in = In::Nothing;
    bool fleetSeen = false;
    // The line of each controller's section by its name in lower case, and
    // of each key of the section being read.
    QHash<QString, int> sections;
    QHash<QString, int> keys;
    // Of each controller: whether its section gives MaxLoss (the others take
    // the fleet's, which [fleet] may give after them), and whether a Port
    // line of it was refused, which says all there is to say of its port.
    struct Given {
        bool maxLoss = false;
        bool refusedPort = false;
    };
    QList<Given> given;
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
            const QString name =
                line.endsWith(u']') ? line.mid(1, line.size() - 2).trimmed() : QString();
            keys.clear();
            if (!notText.isEmpty() || !usableName.match(name).hasMatch()) {
                error(!notText.isEmpty() ? notText
                                         : QStringLiteral("\"%1\" is not a usable controller name: "
                                                          "use letters, digits, '_', '-' and '.'.")
                                               .arg(line));
                in = In::BadSection;
            } else if (name.compare(QLatin1String(kFleetSection), Qt::CaseInsensitive) == 0) {
                if (fleetSeen)
                    error(QStringLiteral("[fleet] is there twice."));
                fleetSeen = true;
                in = In::Fleet;
            } else {
                const auto first = sections.constFind(name.toLower());
                if (first != sections.cend())
                    error(shell::fillIn(QStringLiteral("controller [%1] is named twice: first on "
                                                       "line %2."),
                                        {name, QString::number(*first)}));
                else
                    sections.insert(name.toLower(), number);
                FleetController controller;
                controller.name = name;
                controller.folder = fleetFolder;
                controller.line = number;
                fleet.controllers.append(controller);
                given.append(Given());
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
        if (!refused.isEmpty()) {
            error(refused);
            if (in == In::Controller && key == QLatin1String("port"))
                given.last().refusedPort = true;
        } else if (in == In::Fleet) {
            takeFleetKey(fleet.settings, key, spelt, value, fleetFolder, error);
        } else {
            takeControllerKey(fleet.controllers.last(), key, spelt, value, fleetFolder, error);
            given.last().maxLoss = given.last().maxLoss || key == QLatin1String("maxloss");
        }
    }
    for (qsizetype i = 0; i < fleet.controllers.size(); ++i) {
        FleetController& controller = fleet.controllers[i];
        if (!given[i].maxLoss)
            controller.maxLoss = fleet.settings.maxLoss;
        if (controller.port.isEmpty() && !given[i].refusedPort)
            errorAt(controller.line,
                    QStringLiteral("controller [%1] has no Port.").arg(controller.name));
    }
    if (fleet.controllers.isEmpty() && errors.isEmpty())
        errors.append(QStringLiteral("%1: no [controller] section.").arg(fileName));
    if (!errors.isEmpty())
        return shell::Error{shell::ErrorCode::Invalid, errors.join(u'\n'), fileName};
    return fleet;
}

shell::Result<Fleet> readFleetFile(const QString& fleetFile) {
    const shell::Result<QByteArray> text = shell::readRegularFile(fleetFile, kMaxFleetBytes);
    if (!text)
        return shell::Error{text.error().code,
                            QStringLiteral("the fleet file: %1.").arg(text.error().message),
                            fleetFile};
    return parseFleet(*text, fleetFile, QFileInfo(fleetFile).absolutePath());
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
