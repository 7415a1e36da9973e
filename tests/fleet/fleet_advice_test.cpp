// A fleet controller's failure told in its fleet file's words: the file,
// the section, the key, and never the window's advice.
#include "fleet/fleet_advice.h"

#include <gtest/gtest.h>

namespace {

using kt::engine::JobOutcome;

TEST(FleetAdvice, APortOrAddressProblemNamesTheFileTheSectionAndTheKey) {
    kt::fleet::Fleet fleet;
    fleet.file = "/etc/kt/site.ini";
    kt::fleet::FleetController door;
    door.name = "door-3";
    door.port = "tcp://10.0.0.7:4001";
    door.address = 3;
    kt::fleet::FleetController com = door;
    com.port = "COM3";
    const QString raw = "the job's own words";
    const struct {
        const char* name;
        const kt::fleet::FleetController& controller;
        JobOutcome outcome;
        QJsonObject summary;
        QString said;
    } cases[] = {
        {"a server that refused",
         door,
         JobOutcome::ServerClosed,
         {{"portProblem", "server"}, {"reason", "Connection refused"}},
         "site.ini [door-3] Port=tcp://10.0.0.7:4001: Connection refused — check that the device "
         "server is on and that Port= names it"},
        {"a server that closed the connection during the job",
         door,
         JobOutcome::ServerClosed,
         {{"records", 12}},
         "site.ini [door-3] Port=tcp://10.0.0.7:4001: the device server closed the connection — "
         "check that the device server is on and that Port= names it"},
        {"a device that does not exist, named through COMn",
         com,
         JobOutcome::PortUnavailable,
         {{"portProblem", "missing"}, {"device", "/dev/ttyUSB9"}},
         "site.ini [door-3] Port=COM3: the device /dev/ttyUSB9 does not exist — plug in the "
         "serial adapter, or name its device in Port="},
        {"a device this user may not use: the system's words",
         com,
         JobOutcome::PortUnavailable,
         {{"portProblem", "denied"}, {"device", "/dev/ttyUSB9"}},
         "site.ini [door-3] Port=COM3: " + raw},
        {"a controller that never answered",
         door,
         JobOutcome::NoAnswer,
         {{"records", 0}},
         "site.ini [door-3] Address=3: no controller answered on tcp://10.0.0.7:4001 — check "
         "Address= (the Controller ID), the cable and the port's settings"},
        {"one that answered, then fell silent", door, JobOutcome::NoAnswer, {{"records", 7}}, raw},
        {"a garbled line", door, JobOutcome::Garbled, {}, raw},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString said = kt::fleet::fleetError(fleet, c.controller, c.outcome, c.summary, raw);
        EXPECT_EQ(said.toStdString(), c.said.toStdString());
        EXPECT_FALSE(said.contains("Language.ini"));
    }
}

} // namespace
