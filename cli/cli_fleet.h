#pragma once
// lumitrax fleet: every lumitraxd of a plant as its MQTT broker holds them (docs/mqtt.md).
//
//   lumitrax [--json] fleet --broker URL [--prefix FILTER]... [--wait MS] [broker options]
//   lumitrax [--json] fleet --broker URL apply RECIPE --where FILTER [--timeout S] [broker options]
//
// The listing reads the retained states under each filter; apply sends the recipe to every
// controller whose state is under the filter and waits for each result. A filter ending in '#'
// is taken as it is; any other names controllers, and "/state" is added to it.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

struct FleetOutput {
    std::function<void(const QString&)> line;   // standard output, one line
    std::function<void(const QString&)> error;  // standard error, one line
    std::function<void(const QJsonObject&)> json;
};

// arguments: those after "fleet"; json: --json stood before it. The exit status.
int RunFleet(const QStringList& arguments, bool json, const FleetOutput& out);

// For tests: the subscription for a user's filter, as described above.
QString FleetStateFilter(const QString& filter);
