#include "committed_state.h"

#include "shell/text_format.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace kt::fleet {

namespace {

// A controller's name as a fleet file allows it: anything else in a state
// read from a remote is not believed.
bool usableName(const QString& name) {
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,199}$"));
    return form.match(name).hasMatch();
}

} // namespace

QByteArray committedStateText(const Fleet& fleet, const FleetState& state, const QString& gateway) {
    const RemoteAddress& remote = fleet.settings.remote;
    FleetState shown;
    shown.lastRun = state.lastRun;
    for (auto [name, record] : state.controllers) {
        record.port = remote.scrubbed(record.port);
        record.error = remote.scrubbed(record.error);
        shown.controllers.emplace(name, record);
    }
    for (auto [name, applied] : state.applies) {
        applied.error = remote.scrubbed(applied.error);
        shown.applies.emplace(name, applied);
    }
    QJsonArray controllers;
    for (const FleetController& controller : fleet.controllers)
        controllers.append(
            QJsonObject{{"name", controller.name}, {"port", remote.scrubbed(controller.port)}});
    QJsonObject root = fleetStateJson(shown);
    root.remove(QStringLiteral("pushFailuresInARow"));
    root.insert("fleet", QJsonObject{{"gateway", gateway},
                                     {"fleetFile", fleet.file},
                                     {"remote", remote.shown()},
                                     {"maxAgeSeconds", fleet.settings.maxAgeSeconds},
                                     {"controllers", controllers}});
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

shell::Result<LoadedFleet> committedStateOf(const QByteArray& text, const QString& branch,
                                            const QString& where) {
    const auto refused = [&](const QString& why) {
        return shell::Error{shell::ErrorCode::Invalid,
                            shell::fillIn(QStringLiteral("%1 is no fleet state: %2"), {where, why}),
                            where};
    };
    if (text.size() > kMaxCommittedStateBytes)
        return refused(QStringLiteral("it is larger than %1 bytes").arg(kMaxCommittedStateBytes));
    const QJsonObject about =
        QJsonDocument::fromJson(text).object().value(QLatin1String("fleet")).toObject();
    const QJsonValue maxAge = about.value(QLatin1String("maxAgeSeconds"));
    if (!maxAge.isDouble() || maxAge.toInteger() <= 0)
        return refused(QStringLiteral("it gives no MaxAge"));
    LoadedFleet loaded;
    loaded.file = about.value(QLatin1String("fleetFile")).toString();
    loaded.name = branch;
    loaded.gateway = about.value(QLatin1String("gateway")).toString();
    loaded.fleet.settings.maxAgeSeconds = maxAge.toInteger();
    loaded.fleet.settings.branch = branch;
    for (const QJsonValue& entry : about.value(QLatin1String("controllers")).toArray()) {
        FleetController controller;
        controller.name = entry[QLatin1String("name")].toString();
        controller.port = entry[QLatin1String("port")].toString();
        if (!usableName(controller.name))
            return refused(QStringLiteral("a controller's name is not one a fleet file allows"));
        loaded.fleet.controllers.append(controller);
    }
    shell::Result<FleetState> state = parseFleetState(text, where, &loaded.fleet);
    if (!state)
        return state.error();
    loaded.state = *state;
    return loaded;
}

} // namespace kt::fleet
