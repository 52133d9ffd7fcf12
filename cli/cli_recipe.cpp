#include "cli_recipe.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QSaveFile>

#include <vector>

#include "cli_report.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

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
