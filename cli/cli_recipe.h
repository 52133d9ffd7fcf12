#pragma once
// The recipe commands' own parts: recipe check, which reads files and opens no port, and the
// report of recipe apply, verify and capture as lines for a person and as JSON (docs/json.md).
// What is sent, read back and compared is the Controller API's; this is reporting only.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <string>

#include <lumitrax/recipe.h>

#include "cli_run.h"

// recipe check: every path a recipe file, or a folder of them (every *.toml, names and
// numbers unique). One line per recipe, an error per bad path (exit 2).
CliResult CheckRecipes(const CliRequest& request);

// "housing-a12-top  number 12  ok" (no number part when the recipe has none).
QString RecipeCheckLine(const lumitrax::Recipe& recipe);

// The recipe under its file's own keys (name, number, brightness, on, trigger rows as
// "triggers", bright_memory, trigger_memory) and sha256; a key the recipe lacks is left out.
QJsonObject RecipeJson(const lumitrax::Recipe& recipe);

// The report's fields in snake_case: result, differences [{field, wanted, found}],
// steps_written, steps_not_written, error, saved_bright_memory, saved_trigger_memory,
// duration_ms.
QJsonObject RecipeReportJson(const lumitrax::RecipeReport& report);

// "verified", or "differs" and "  brightness 3: wanted 512, found 600" per difference; then
// "saved bright memory 3" / "saved trigger memory 3" for each memory saved. Nothing for a
// failed one: its error is the report's.
QStringList RecipeReportLines(const lumitrax::RecipeReport& report, const lumitrax::Recipe& recipe);

// Replaces path whole with text, only once all of it is written. Throws
// lumitrax::Error(File) naming the path and why.
void WriteRecipeFile(const QString& path, const std::string& text);
