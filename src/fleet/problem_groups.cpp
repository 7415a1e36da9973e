#include "problem_groups.h"

#include "fleet_advice.h"
#include "fleet_run.h"
#include "link/port_naming.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>

namespace kt::fleet {

namespace {

// Where a controller hangs: what two at one place share (`key`), the place
// as a group of them names it (`wide`: a server by its host) and its own
// line (`narrow`: the server's port too).
struct Place {
    QString key;
    QString wide;
    QString narrow;
};

Place portPlace(const QString& port) {
    static const QRegularExpression com(QStringLiteral("^COM[0-9]+$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QString name = port.trimmed();
    if (com.match(name).hasMatch()) // its device is Language.ini's affair
        return {QStringLiteral("device ") + name.toUpper(), name.toUpper(), name.toUpper()};
    const shell::Result<link::PortAddress> address = link::parsePortName(name, {});
    if (!address)
        return {QStringLiteral("device ") + name, name, name};
    if (address->kind == link::PortAddress::Kind::Device) {
        const QString resolved = QFileInfo(address->device).canonicalFilePath();
        const QString device = resolved.isEmpty() ? address->device : resolved;
        return {QStringLiteral("device ") + device, device, device};
    }
    const QString host = address->host.toLower();
    const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
    const QString scheme = address->kind == link::PortAddress::Kind::Rfc2217
                               ? QStringLiteral("rfc2217://")
                               : QStringLiteral("tcp://");
    return {QStringLiteral("server ") + host, scheme + shown,
            scheme + shown + u':' + QString::number(address->tcpPort)};
}

Place placeOf(const Problem& problem) {
    if (problem.state != ControllerState::Failing)
        return {};
    if (problem.outcome == engine::JobOutcome::FileError)
        return {QStringLiteral("folder ") + problem.folder, problem.folder, problem.folder};
    if (!engine::isLineFailure(problem.outcome))
        return {};
    return portPlace(problem.port);
}

QString whatOf(const Problem& problem) {
    if (problem.state != ControllerState::Failing)
        return QLatin1String(wordsOf(problem.state).name);
    if (problem.outcome == engine::JobOutcome::None)
        return QStringLiteral("not tried");
    return QLatin1String(engine::wordsOf(problem.outcome).name);
}

} // namespace

bool namedBefore(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // A run of digits counts as its number.
            const auto number = [](const QString& text, qsizetype& at) {
                while (at < text.size() - 1 && text[at] == u'0' && text[at + 1].isDigit())
                    ++at;
                const qsizetype start = at;
                while (at < text.size() && text[at].isDigit())
                    ++at;
                return QStringView(text).mid(start, at - start);
            };
            const QStringView x = number(a, i), y = number(b, j);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

QList<ProblemGroup> groupProblems(const QList<Problem>& problems) {
    struct Gathered {
        ProblemGroup group;
        QStringList narrow, wide; // of its members
    };
    QList<Gathered> gathered;
    QHash<QString, qsizetype> byKey;
    for (const Problem& problem : problems) {
        const Place place = placeOf(problem);
        const QString what = whatOf(problem);
        const QString key = QString::number(int(problem.state)) + u'\n' + what + u'\n' + place.key;
        auto found = byKey.constFind(key);
        if (found == byKey.cend()) {
            found = byKey.insert(key, gathered.size());
            gathered.append(
                Gathered{{problem.state, problem.outcome, what, {}, {}, problem.line, {}}, {}, {}});
        }
        Gathered& into = gathered[*found];
        into.group.members.append(problem.name);
        into.narrow.append(place.narrow);
        into.wide.append(place.wide);
    }
    QList<ProblemGroup> several, single;
    for (Gathered& g : gathered) {
        ProblemGroup& group = g.group;
        g.narrow.removeDuplicates();
        g.wide.removeDuplicates();
        // The place as narrow as all its members share it.
        group.where = g.narrow.size() == 1 ? g.narrow[0]
                      : g.wide.size() == 1 ? g.wide[0]
                                           : g.wide[0].section(QStringLiteral("://"), -1);
        if (group.members.size() == 1) {
            single.append(group);
            continue;
        }
        std::sort(group.members.begin(), group.members.end(), namedBefore);
        group.line.clear();
        if (group.state == ControllerState::Failing)
            group.check = fleetCheck(group.outcome);
        several.append(group);
    }
    std::stable_sort(several.begin(), several.end(), [](const auto& a, const auto& b) {
        if (a.state != b.state)
            return a.state < b.state;
        return a.members.size() > b.members.size();
    });
    std::stable_sort(single.begin(), single.end(), [](const auto& a, const auto& b) {
        if (a.state != b.state)
            return a.state < b.state;
        return namedBefore(a.members[0], b.members[0]);
    });
    return several + single;
}

QString failureText(const QString& name, engine::JobOutcome outcome, int tries,
                    const QString& error) {
    QString line = name + QStringLiteral(": ") + QLatin1String(engine::wordsOf(outcome).name) +
                   QStringLiteral(" after %1 ").arg(tries) +
                   (tries == 1 ? QStringLiteral("try") : QStringLiteral("tries"));
    if (!error.isEmpty())
        line += QStringLiteral(": ") + error;
    return line;
}

QString problemLine(const ProblemGroup& group) {
    if (group.members.size() == 1)
        return group.line;
    QString listed = group.members.mid(0, kListedMembers).join(QStringLiteral(", "));
    if (group.members.size() > kListedMembers)
        listed += QStringLiteral(" … and %1 more").arg(group.members.size() - kListedMembers);
    QString line = group.what + (group.where.isEmpty() ? QString() : ": " + group.where) +
                   QStringLiteral(" (%1 controllers: %2)").arg(group.members.size()).arg(listed);
    if (!group.check.isEmpty())
        line += QStringLiteral(" — ") + group.check;
    return line;
}

QStringList problemLines(const QList<ProblemGroup>& groups) {
    QStringList lines;
    for (const ProblemGroup& group : groups)
        lines.append(problemLine(group));
    return lines;
}

Problem problemOf(const ControllerView& view, const QString& name) {
    const ControllerRecord* r = view.record;
    Problem problem{name,
                    view.state,
                    r ? r->outcome : engine::JobOutcome::None,
                    r && !r->port.isEmpty() ? r->port : view.controller->port,
                    view.controller->folder,
                    {}};
    switch (view.state) {
    case ControllerState::Failing:
        problem.line = failureText(name, r->outcome, r->tries, r->error);
        break;
    case ControllerState::Suspicious:
        problem.line = name + QStringLiteral(": suspicious: ") + suspicionText(*r);
        break;
    case ControllerState::Stale:
        problem.line = name + QStringLiteral(": stale");
        if (view.clockAhead)
            problem.line += QStringLiteral(": its last complete backup says it was made in the "
                                           "future (clock ahead)");
        else if (view.ageSeconds >= 0)
            problem.line += QStringLiteral(": last complete backup %1, %2 ago")
                                .arg(r->lastCompleteAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                                     ageText(view.ageSeconds));
        break;
    default:
        problem.line = name + QStringLiteral(": ") + QLatin1String(wordsOf(view.state).name);
        break;
    }
    return problem;
}

QList<ProblemGroup> problemGroupsOf(const QList<ControllerView>& views, bool severalFleets) {
    QList<Problem> problems;
    for (const ControllerView& view : views)
        if (!view.fine())
            problems.append(problemOf(view, (severalFleets ? view.fleet + u'/' : QString()) +
                                                view.controller->name));
    return groupProblems(problems);
}

QList<Problem> problemsOf(const RunResult& result) {
    QList<Problem> problems;
    const auto add = [&](int i, ControllerState state, const QString& line) {
        const ControllerRun& run = result.runs[i];
        problems.append({run.controller->name, state,
                         run.tries > 0 ? run.outcome : engine::JobOutcome::None,
                         run.controller->port, run.controller->folder, line});
    };
    for (const int i : result.failed)
        add(i, ControllerState::Failing, result.failureLine(i));
    for (const int i : result.suspicious)
        add(i, ControllerState::Suspicious, result.suspicionLine(i));
    return problems;
}

} // namespace kt::fleet
