#pragma once
// The recipe commands' own parts: recipe check, which reads files and opens no port, and the
// report of recipe apply, verify and capture as lines for a person and as JSON (docs/json.md).
// What is sent, read back and compared is the Controller API's; this is reporting only.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <string>

#include <lumitrax/recipe.h>

#include "cli_report.h"
#include "cli_run.h"

// recipe check: every path a recipe file, or a folder of them (every *.toml, names and
// numbers unique). One line per recipe, an error per bad path (exit 2).
CliResult CheckRecipes(const CliRequest& request);

// "housing-a12-top  number 12  ok" (no number part when the recipe has none).
QString RecipeCheckLine(const lumitrax::Recipe& recipe);

// RecipeJson and RecipeReportJson: cli_report.h.

// "verified", or "differs" and "  brightness 3: wanted 512, found 600" per difference; then
// "saved bright memory 3" / "saved trigger memory 3" for each memory saved. Nothing for a
// failed one: its error is the report's.
QStringList RecipeReportLines(const lumitrax::RecipeReport& report, const lumitrax::Recipe& recipe);

// Replaces path whole with text, only once all of it is written. Throws
// lumitrax::Error(File) naming the path and why.
void WriteRecipeFile(const QString& path, const std::string& text);
