#include "fleet_state.h"

#include "engine/backup_file.h"
#include "shell/append_file.h"
#include "shell/regular_file.h"
#include "shell/text_format.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

namespace kt::fleet {

namespace {

// Far larger than the state of thousands of controllers.
constexpr qint64 kMaxStateBytes = 256LL * 1024 * 1024;

QDateTime timeOf(const QJsonValue& value) {
    return QDateTime::fromString(value.toString(), Qt::ISODate).toLocalTime();
}

engine::JobOutcome outcomeOf(const QJsonValue& value) {
    return engine::outcomeFromId(value.toString()).value_or(engine::JobOutcome::None);
}

QString outcomeId(engine::JobOutcome outcome) {
    return QString::fromLatin1(engine::wordsOf(outcome).id);
}

// A last good backup; an older state file has none, and reads as none.
QJsonObject goodJson(const GoodBackup& good) {
    QJsonObject held;
    for (const auto& [category, count] : good.held.byCategory)
        held.insert(QString::fromLatin1(category), count);
    return QJsonObject{{"file", good.file}, {"at", isoText(good.at)}, {"held", held}};
}

GoodBackup goodOf(const QJsonObject& o) {
    GoodBackup good{o.value("file").toString(), timeOf(o.value("at")), {}};
    const QJsonObject held = o.value("held").toObject();
    for (auto it = held.begin(); it != held.end(); ++it)
        if (const int count = it.value().toInt(); count > 0)
            good.held.byCategory[it.key().toLatin1()] = count;
    return good;
}

QJsonObject recordJson(const ControllerRecord& r) {
    QJsonArray recent;
    for (const RecentRun& run : r.recent)
        recent.append(QJsonObject{{"at", isoText(run.at)},
                                  {"outcome", outcomeId(run.outcome)},
                                  {"changed", run.changed}});
    QJsonObject json{{"port", r.port},
                     {"lastTry", isoText(r.lastTry)},
                     {"outcome", outcomeId(r.outcome)},
                     {"error", r.error},
                     {"tries", r.tries},
                     {"failures", r.failures},
                     {"failedTries", r.failedTries},
                     {"seconds", r.seconds},
                     {"jobRecords", r.jobRecords},
                     {"readsCards", r.readsCards},
                     {"lastComplete", r.lastComplete},
                     {"lastCompleteAt", isoText(r.lastCompleteAt)},
                     {"cards", r.cards},
                     {"records", r.records},
                     {"changed", r.changed},
                     {"changes", r.changes},
                     {"cardsAdded", r.cardsAdded},
                     {"cardsRemoved", r.cardsRemoved},
                     {"cardsChanged", r.cardsChanged},
                     {"recent", recent}};
    if (!r.lastGood.file.isEmpty())
        json.insert("lastGood", goodJson(r.lastGood));
    if (r.suspicious) {
        json.insert("suspicious", true);
        json.insert("emptied", QJsonArray::fromStringList(r.emptied));
    }
    return json;
}

ControllerRecord recordOf(const QJsonObject& o) {
    ControllerRecord r;
    r.port = o.value("port").toString();
    r.lastTry = timeOf(o.value("lastTry"));
    r.outcome = outcomeOf(o.value("outcome"));
    r.error = o.value("error").toString();
    r.tries = o.value("tries").toInt();
    r.failures = o.value("failures").toInt();
    r.failedTries = o.value("failedTries").toInt();
    r.seconds = o.value("seconds").toDouble();
    r.jobRecords = o.value("jobRecords").toInt();
    r.readsCards = o.value("readsCards").toBool();
    r.lastComplete = o.value("lastComplete").toString();
    r.lastCompleteAt = timeOf(o.value("lastCompleteAt"));
    r.cards = o.value("cards").toInt();
    r.records = o.value("records").toInt();
    r.changed = o.value("changed").toBool();
    r.changes = o.value("changes").toString();
    r.cardsAdded = o.value("cardsAdded").toInt();
    r.cardsRemoved = o.value("cardsRemoved").toInt();
    r.cardsChanged = o.value("cardsChanged").toInt();
    r.lastGood = goodOf(o.value("lastGood").toObject());
    r.suspicious = o.value("suspicious").toBool();
    for (const QJsonValue& category : o.value("emptied").toArray())
        r.emptied.append(category.toString());
    const QJsonArray recent = o.value("recent").toArray();
    for (qsizetype i = qMax<qsizetype>(0, recent.size() - kRecentRuns); i < recent.size(); ++i) {
        const QJsonObject run = recent[i].toObject();
        r.recent.append({timeOf(run.value("at")), outcomeOf(run.value("outcome")),
                         run.value("changed").toBool()});
    }
    return r;
}

AppliedList appliedOf(const QJsonObject& o) {
    return AppliedList{timeOf(o.value("at")),        o.value("list").toString(),
                       o.value("before").toString(), outcomeOf(o.value("outcome")),
                       o.value("error").toString(),  o.value("written").toInt(),
                       o.value("cards").toString(),  o.value("cardsLeft").toString()};
}

// A state's JSON text, walked one member at a time: only each record is
// parsed whole, so that reading costs the text and the records kept, never
// a tree of the whole file.
class JsonWalk {
  public:
    explicit JsonWalk(const QByteArray& text) : text_(text) {}

    // Calls `member` with the key and the text of each value of the object
    // that begins here, which it may parse; false at the first thing that
    // is not JSON, or when `member` says false.
    bool object(const std::function<bool(const QString&, const QByteArray&)>& member) {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            const std::optional<QByteArray> key = value();
            const std::optional<QString> name =
                key && key->startsWith('"') ? stringOf(*key) : std::nullopt;
            if (!name || !take(':'))
                return false;
            const std::optional<QByteArray> text = value();
            if (!text || !member(*name, *text))
                return false;
        } while (take(','));
        return take('}');
    }

    // Nothing but blanks is left.
    bool atEnd() {
        blanks();
        return at_ == text_.size();
    }
    qsizetype at() const { return at_; }

    // A value of its own: a string, a number, true, false or null.
    static std::optional<QJsonValue> scalarOf(const QByteArray& text) {
        QJsonParseError error;
        const QJsonDocument wrapped = QJsonDocument::fromJson('[' + text + ']', &error);
        if (error.error != QJsonParseError::NoError || wrapped.array().size() != 1)
            return std::nullopt;
        return wrapped.array().first();
    }

  private:
    void blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' ||
                                      text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool take(char c) {
        blanks();
        if (at_ == text_.size() || text_[at_] != c)
            return false;
        ++at_;
        return true;
    }
    // The text of the value that begins here: a string to its closing
    // quote, an object or array to its end, its strings and nesting
    // followed, or a word. It shares the file's bytes, unparsed.
    std::optional<QByteArray> value() {
        blanks();
        const qsizetype from = at_, end = text_.size();
        if (at_ == end)
            return std::nullopt;
        if (const char first = text_[at_]; first == '"') {
            for (++at_; at_ < end && text_[at_] != '"'; ++at_)
                if (text_[at_] == '\\')
                    ++at_;
            if (at_++ >= end)
                return std::nullopt;
        } else if (first == '{' || first == '[') {
            int depth = 0;
            bool inString = false;
            for (; at_ < end; ++at_) {
                const char c = text_[at_];
                if (inString && c == '\\')
                    ++at_;
                else if (c == '"')
                    inString = !inString;
                else if (!inString && (c == '{' || c == '['))
                    ++depth;
                else if (!inString && (c == '}' || c == ']') && --depth == 0)
                    break;
            }
            if (at_++ >= end)
                return std::nullopt;
        } else {
            while (at_ < end && !std::strchr(",:}] \n\r\t", text_[at_]))
                ++at_;
        }
        return QByteArray::fromRawData(text_.constData() + from, at_ - from);
    }
    static std::optional<QString> stringOf(const QByteArray& text) {
        // A plain name, as every key the program writes is, needs no parser.
        const QByteArray inside = text.sliced(1, text.size() - 2);
        if (std::all_of(inside.cbegin(), inside.cend(),
                        [](char c) { return c >= 0x20 && c < 0x7F && c != '\\' && c != '"'; }))
            return QString::fromLatin1(inside);
        const std::optional<QJsonValue> value = scalarOf(text);
        if (!value || !value->isString())
            return std::nullopt;
        return value->toString();
    }

    const QByteArray& text_;
    qsizetype at_ = 0;
};

} // namespace

QJsonObject appliedJson(const AppliedList& a) {
    return QJsonObject{{"at", isoText(a.at)}, {"list", a.list},
                       {"before", a.before},  {"outcome", outcomeId(a.outcome)},
                       {"error", a.error},    {"written", a.written},
                       {"cards", a.cards},    {"cardsLeft", a.cardsLeft}};
}

QString statePathOf(const QString& fleetFile) {
    const QFileInfo info(fleetFile);
    return info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral(".state"));
}

QString stateLockPathOf(const QString& statePath) {
    return statePath + QStringLiteral(".lock");
}

shell::Status lockState(QLockFile& lock) {
    if (lock.tryLock(kStateLockWaitMs))
        return shell::done();
    const QString path = lock.fileName();
    if (lock.error() == QLockFile::LockFailedError)
        return shell::Error{shell::ErrorCode::InUse, QStringLiteral("another run holds it"), path};
    // QLockFile keeps the system's words to itself: a file made and written
    // where it goes fails as the lock did.
    QString why = lock.error() == QLockFile::PermissionError ? QStringLiteral("permission denied")
                                                             : QStringLiteral("the system refused");
    QFile probe(path + QStringLiteral(".%1").arg(QCoreApplication::applicationPid()));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        why = probe.errorString();
    } else {
        if (probe.write("0\n") != 2 || !probe.flush())
            why = probe.errorString();
        probe.close();
        probe.remove();
    }
    return shell::Error{shell::ErrorCode::Unwritable,
                        shell::fillIn(QStringLiteral("cannot make its lock %1: %2"), {path, why}),
                        path};
}

shell::Result<FleetState> readFleetState(const QString& path, const Fleet* of) {
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return FleetState{};
    // A state could say anything of the fleet: only this user's own file,
    // that nobody else may write, is believed, and never through a link.
    const auto untrusted = [&] {
        return shell::Error{shell::ErrorCode::Untrusted,
                            path + QStringLiteral(" is not this user's own file (a link, another "
                                                  "user's file, or one others may write): it "
                                                  "was not believed"),
                            path};
    };
    if (!shell::isOwnersFile(path, QString()))
        return untrusted();
    const shell::Result<QByteArray> text = shell::readRegularFile(path, kMaxStateBytes);
    if (!text)
        return text.error();
    if (!shell::isOwnersFile(path, QString()))
        return untrusted(); // replaced while it was read
    return parseFleetState(*text, path, of);
}

shell::Result<FleetState> parseFleetState(const QByteArray& text, const QString& path,
                                          const Fleet* of) {
    QSet<QString> wanted;
    if (of)
        for (const FleetController& controller : of->controllers)
            wanted.insert(controller.name);
    FleetState state;
    QString problem;
    // Every record is parsed, also one not kept: a state that is not whole
    // is no state.
    const auto objectOf = [&](const QString& name, const QByteArray& json) {
        const QJsonDocument document = QJsonDocument::fromJson(json);
        if (!document.isObject())
            problem =
                shell::fillIn(QStringLiteral("the record of %1 is not a JSON object"), {name});
        return document.isObject() ? std::optional(document.object()) : std::nullopt;
    };
    const auto record = [&](const QString& name, const QByteArray& json) {
        const std::optional<QJsonObject> object = objectOf(name, json);
        if (object && (!of || wanted.contains(name)))
            state.controllers.insert_or_assign(name, recordOf(*object));
        return object.has_value();
    };
    const auto applied = [&](const QString& name, const QByteArray& json) {
        const std::optional<QJsonObject> object = objectOf(name, json);
        if (object && (!of || wanted.contains(name)))
            state.applies.insert_or_assign(name, appliedOf(*object));
        return object.has_value();
    };
    JsonWalk walk(text);
    const bool whole = walk.object([&](const QString& key, const QByteArray& json) {
        if (key == QLatin1String("controllers"))
            return JsonWalk(json).object(record);
        if (key == QLatin1String("applies"))
            return JsonWalk(json).object(applied);
        const std::optional<QJsonValue> value = JsonWalk::scalarOf(json);
        if (value && key == QLatin1String("lastRun"))
            state.lastRun = timeOf(*value);
        else if (value && key == QLatin1String("pushFailuresInARow"))
            state.pushFailures = value->toInt(); // none in older files
        else if (value && key == QLatin1String("lastPushSuccess"))
            state.lastPushSuccess = timeOf(*value);
        return value.has_value();
    }) && walk.atEnd();
    if (!whole)
        return shell::Error{
            shell::ErrorCode::Invalid,
            shell::fillIn(QStringLiteral("%1 is no fleet state: %2"),
                          {path, problem.isEmpty()
                                     ? QStringLiteral("no JSON object, or not whole, at byte %1")
                                           .arg(qMin(walk.at(), text.size()))
                                     : problem}),
            path};
    return state;
}

QJsonObject fleetStateJson(const FleetState& state) {
    QJsonObject controllers;
    for (const auto& [name, record] : state.controllers)
        controllers.insert(name, recordJson(record));
    QJsonObject applies;
    for (const auto& [name, applied] : state.applies)
        applies.insert(name, appliedJson(applied));
    QJsonObject root{{"format", 1},
                     {"lastRun", isoText(state.lastRun)},
                     {"pushFailuresInARow", state.pushFailures},
                     {"controllers", controllers}};
    if (state.lastPushSuccess.isValid())
        root.insert("lastPushSuccess", isoText(state.lastPushSuccess));
    if (!applies.isEmpty())
        root.insert("applies", applies);
    return root;
}

shell::Status writeFleetState(const QString& path, const FleetState& state) {
    return shell::replacePrivateFile(
        path, QJsonDocument(fleetStateJson(state)).toJson(QJsonDocument::Indented));
}

const StateWords& wordsOf(ControllerState state) {
    static const StateWords words[kControllerStates] = {
        {"failing", "failing", "StateFailing"},
        {"suspicious", "suspicious", "StateSuspicious"},
        {"never-backed-up", "never backed up", "StateNeverBackedUp"},
        {"stale", "stale", "StateStale"},
        {"unknown", "unknown", "StateUnknown"},
        {"changed", "changed", "StateChanged"},
        {"fine", "fine", "StateFine"},
    };
    return words[int(state)];
}

ControllerView viewOf(const FleetController& controller, const ControllerRecord* record,
                      qint64 maxAgeSeconds, const QDateTime& now) {
    ControllerView view;
    view.controller = &controller;
    view.record = record;
    if (!record)
        return view; // unknown
    if (!record->lastComplete.isEmpty() && record->lastCompleteAt.isValid()) {
        const qint64 age = record->lastCompleteAt.secsTo(now);
        view.clockAhead = age < -kClockToleranceSeconds;
        if (!view.clockAhead)
            view.ageSeconds = qMax<qint64>(0, age);
    }
    if (record->outcome != engine::JobOutcome::Finished)
        view.state = ControllerState::Failing;
    else if (record->suspicious)
        view.state = ControllerState::Suspicious;
    else if (record->lastComplete.isEmpty())
        view.state = ControllerState::NeverBackedUp;
    else if (view.ageSeconds < 0 || view.ageSeconds > maxAgeSeconds)
        view.state = ControllerState::Stale;
    else
        view.state = record->changed ? ControllerState::Changed : ControllerState::Fine;
    return view;
}

std::optional<GoodBackup> lastGoodOf(const ControllerRecord& record) {
    if (!record.lastGood.file.isEmpty())
        return record.lastGood;
    if (record.lastComplete.isEmpty())
        return std::nullopt;
    GoodBackup good{record.lastComplete, record.lastCompleteAt, {}};
    if (QFileInfo(record.lastComplete).isFile())
        good.held = heldCounts(engine::readBackupRecords(record.lastComplete));
    else if (record.cards > 0) // gone: the cards the state counted are all there is
        good.held.byCategory[engine::findCategory("cards")->languageKey] = record.cards;
    return good;
}

void acceptLastComplete(ControllerRecord& record) {
    record.lastGood = {};
    record.lastGood = lastGoodOf(record).value_or(GoodBackup{});
    record.suspicious = false;
    record.emptied.clear();
}

QString suspicionText(const ControllerRecord& record) {
    QStringList parts;
    if (record.readsCards)
        parts.append(shell::fillIn(
            QStringLiteral("%1 cards before, %2 after"),
            {QString::number(record.lastGood.held.cards()), QString::number(record.cards)}));
    if (!record.emptied.isEmpty())
        parts.append(QStringLiteral("came back empty: ") +
                     record.emptied.join(QStringLiteral(", ")));
    if (record.lastGood.at.isValid())
        parts.append(QStringLiteral("last good backup ") +
                     record.lastGood.at.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    return parts.join(QStringLiteral("; "));
}

QList<ControllerView> viewsOf(const Fleet& fleet, const FleetState& state, const QDateTime& now) {
    QList<ControllerView> views;
    for (const FleetController& controller : fleet.controllers) {
        const auto found = state.controllers.find(controller.name);
        views.append(viewOf(controller, found == state.controllers.end() ? nullptr : &found->second,
                            fleet.settings.maxAgeSeconds, now));
    }
    return views;
}

shell::Result<LoadedFleet> loadFleet(const QString& fleetFile) {
    shell::Result<Fleet> fleet = readFleetFile(fleetFile);
    if (!fleet)
        return fleet.error();
    LoadedFleet loaded{fleetFile, QFileInfo(fleetFile).completeBaseName(), *fleet, {}, {}, {}};
    if (shell::Result<FleetState> state = readFleetState(statePathOf(fleetFile), &loaded.fleet))
        loaded.state = *state;
    else
        loaded.stateProblem = state.error().message;
    return loaded;
}

bool runsStopped(const LoadedFleet& fleet, const QDateTime& now) {
    return fleet.state.lastRun.isValid() &&
           fleet.state.lastRun.secsTo(now) > fleet.fleet.settings.maxAgeSeconds;
}

QString isoText(const QDateTime& time) {
    return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate)
                          : QString();
}

QString ageText(qint64 seconds) {
    if (seconds < 3600)
        return QStringLiteral("%1 min").arg(seconds / 60);
    if (seconds < 86400)
        return QStringLiteral("%1 h").arg(seconds / 3600);
    return shell::fillIn(QStringLiteral("%1 d %2 h"), {QString::number(seconds / 86400),
                                                       QString::number(seconds % 86400 / 3600)});
}

} // namespace kt::fleet
