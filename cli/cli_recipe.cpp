#include "cli_recipe.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QSaveFile>

#include <vector>

#include "cli_report.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QJsonArray Strings(const std::vector<std::string>& items) {
    QJsonArray out;
    for (const std::string& s : items) {
        out.append(Q(s));
    }
    return out;
}

QJsonArray Numbers(const std::vector<int>& items) {
    QJsonArray out;
    for (const int v : items) {
        out.append(v);
    }
    return out;
}

}  // namespace

QString RecipeCheckLine(const lumitrax::Recipe& recipe) {
    return recipe.number ? QStringLiteral("%1  number %2  ok").arg(Q(recipe.name)).arg(*recipe.number)
                         : QStringLiteral("%1  ok").arg(Q(recipe.name));
}

CliResult CheckRecipes(const CliRequest& q) {
    CliResult out;
    QJsonArray checked;
    for (const QString& path : q.paths) {
        QJsonObject entry{{"path", path}};
        try {
            std::vector<lumitrax::Recipe> recipes;
            if (QFileInfo(path).isDir()) {
                recipes = lumitrax::readRecipeFolder(path.toStdString());
                // A folder given to be checked that holds nothing is a wrong folder, not a good set.
                if (recipes.empty()) {
                    throw lumitrax::Error(lumitrax::ErrorKind::File, path.toStdString() + ": holds no recipe (*.toml) file");
                }
            } else {
                recipes.push_back(lumitrax::readRecipeFile(path.toStdString()));
            }
            QJsonArray list;
            for (const lumitrax::Recipe& r : recipes) {
                out.lines.append(RecipeCheckLine(r));
                list.append(RecipeJson(r));
            }
            entry[QStringLiteral("ok")] = true;
            entry[QStringLiteral("recipes")] = list;
        } catch (const lumitrax::Error& e) {
            out.exitCode = kExitUsage;
            out.errors.append(Q(e.what()));
            entry[QStringLiteral("ok")] = false;
            entry[QStringLiteral("error")] = ErrorJson(e);
            if (!out.json.contains(QStringLiteral("error"))) {
                out.json[QStringLiteral("error")] = ErrorJson(e);
            }
        }
        checked.append(entry);
    }
    out.json[QStringLiteral("checked")] = checked;
    return out;
}

QJsonObject RecipeJson(const lumitrax::Recipe& r) {
    QJsonObject o{{"name", Q(r.name)}, {"brightness", Numbers(r.brightness)}, {"on", Numbers(r.on)}};
    if (r.number) o[QStringLiteral("number")] = *r.number;
    QJsonArray triggers;
    for (const lumitrax::RecipeTrigger& t : r.triggers) {
        QJsonObject row{{"row", t.row}, {"delay_us", t.delayUs}, {"on_us", t.onUs}};
        if (t.edge) row[QStringLiteral("edge")] = *t.edge == lumitrax::Edge::Positive ? "positive" : "negative";
        if (t.enable) row[QStringLiteral("enable")] = *t.enable;
        triggers.append(row);
    }
    o[QStringLiteral("triggers")] = triggers;
    if (r.brightMemory) o[QStringLiteral("bright_memory")] = *r.brightMemory;
    if (r.triggerMemory) o[QStringLiteral("trigger_memory")] = *r.triggerMemory;
    if (!r.sha256.empty()) o[QStringLiteral("sha256")] = Q(r.sha256);
    return o;
}

QJsonObject RecipeReportJson(const lumitrax::RecipeReport& report) {
    QJsonArray differences;
    for (const lumitrax::RecipeDifference& d : report.differences) {
        differences.append(QJsonObject{{"field", Q(d.field)}, {"wanted", Q(d.wanted)}, {"found", Q(d.found)}});
    }
    return QJsonObject{
        {"result", QString::fromLatin1(lumitrax::recipeResultName(report.result))},
        {"differences", differences},
        {"steps_written", Strings(report.stepsWritten)},
        {"steps_not_written", Strings(report.stepsNotWritten)},
        {"error", Q(report.error)},
        {"saved_bright_memory", report.savedBrightMemory},
        {"saved_trigger_memory", report.savedTriggerMemory},
        {"duration_ms", report.durationMs},
    };
}

QStringList RecipeReportLines(const lumitrax::RecipeReport& report, const lumitrax::Recipe& recipe) {
    QStringList lines;
    switch (report.result) {
    case lumitrax::RecipeResult::Failed:
        return lines;
    case lumitrax::RecipeResult::Verified:
        lines.append(QStringLiteral("verified"));
        break;
    case lumitrax::RecipeResult::Differs:
        lines.append(QStringLiteral("differs"));
        for (const lumitrax::RecipeDifference& d : report.differences) {
            lines.append(QStringLiteral("  %1: wanted %2, found %3").arg(Q(d.field), Q(d.wanted), Q(d.found)));
        }
        break;
    }
    if (report.savedBrightMemory && recipe.brightMemory) {
        lines.append(QStringLiteral("saved bright memory %1").arg(*recipe.brightMemory));
    }
    if (report.savedTriggerMemory && recipe.triggerMemory) {
        lines.append(QStringLiteral("saved trigger memory %1").arg(*recipe.triggerMemory));
    }
    return lines;
}

void WriteRecipeFile(const QString& path, const std::string& text) {
    QSaveFile file(path);
    const QByteArray bytes = QByteArray::fromStdString(text);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        throw lumitrax::Error(lumitrax::ErrorKind::File,
                              path.toStdString() + ": cannot be written (" + file.errorString().toStdString() + ")");
    }
}
