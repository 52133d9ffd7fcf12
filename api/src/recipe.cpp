// Recipes as files: strict reading with toml++ (every problem named with its line and column),
// the checks, the canonical text, and a folder of recipes as a set.
#include "lumitrax/recipe.h"

#include <QCryptographicHash>
#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <toml++/toml.h>

#include "recipe_check.h"
#include "text.h"

namespace lumitrax {

namespace detail {

std::optional<Fault> NameFault(const std::string& name) {
    const std::string allowed =
        "letters A-Z and a-z, digits, '.', '_' and '-', 1.." + std::to_string(kMaxRecipeName) + " characters";
    if (name.empty()) {
        return Fault{"name is empty", allowed};
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        if (!ok) {
            // A byte of a multi-byte character is shown as the whole name shows it.
            const std::string shown = static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F
                                          ? "a character outside ASCII letters and digits"
                                          : "'" + std::string(1, c) + "'";
            return Fault{"name \"" + name + "\" holds " + shown, allowed};
        }
    }
    if (name.size() > static_cast<std::size_t>(kMaxRecipeName)) {
        return Fault{"name has " + std::to_string(name.size()) + " characters", allowed};
    }
    return std::nullopt;
}

std::optional<Fault> RangeFault(const std::string& field, long long value, long long lo, long long hi,
                                const char* unit) {
    if (value >= lo && value <= hi) {
        return std::nullopt;
    }
    return Fault{field + " is " + std::to_string(value), std::to_string(lo) + ".." + std::to_string(hi) + unit};
}

const char* EdgeName(Edge edge) noexcept { return edge == Edge::Positive ? "positive" : "negative"; }

std::string FaultText(const Fault& fault) { return fault.what + "; " + fault.label + ": " + fault.allowed; }

}  // namespace detail

namespace {

using detail::Fault;
using detail::FaultText;
using detail::RangeFault;

const char* const kRootKeys = "name, number, brightness, on, trigger, store";
const char* const kTriggerKeys = "row, delay_us, on_us, edge, enable";
const char* const kStoreKeys = "bright_memory, trigger_memory";

// Where a value stood, for the messages of a file.
struct Place {
    std::size_t line = 1;
    std::size_t column = 1;
};

Place PlaceOf(const toml::source_region& r) {
    return r.begin ? Place{r.begin.line, r.begin.column} : Place{};
}

// The problems of one file, reported together in the order they stand in it.
class Problems {
public:
    explicit Problems(std::string source) : source_(std::move(source)) {}

    void Add(Place at, const Fault& fault) { items_.push_back({at, FaultText(fault)}); }
    void Add(const toml::source_region& r, const Fault& fault) { Add(PlaceOf(r), fault); }
    void Add(const toml::source_region& r, std::string what, std::string allowed) {
        Add(r, Fault{std::move(what), std::move(allowed)});
    }
    void Add(const toml::source_region& r, const std::optional<Fault>& fault) {
        if (fault) {
            Add(r, *fault);
        }
    }

    void ThrowIfAny() {
        if (items_.empty()) {
            return;
        }
        std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
            return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
        });
        std::string message;
        for (const Item& i : items_) {
            if (!message.empty()) {
                message += '\n';
            }
            message += At(i.at);
            message += i.text;
        }
        throw Error(ErrorKind::File, message);
    }

    std::string At(Place p) const {
        return source_ + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": ";
    }

private:
    struct Item {
        Place at;
        std::string text;
    };
    std::string source_;
    std::vector<Item> items_;
};

const char* TypeName(const toml::node& n) {
    switch (n.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a number with a fraction";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::date: return "a date";
    case toml::node_type::time: return "a time";
    case toml::node_type::date_time: return "a date and time";
    case toml::node_type::array: return "an array";
    case toml::node_type::table: return "a table";
    case toml::node_type::none: break;
    }
    return "nothing";
}

// An integer in [lo, hi], or a problem (wrong type, out of range) and nothing.
std::optional<int> ReadInt(const toml::node& n, const std::string& field, long long lo, long long hi,
                           Problems& problems, const char* unit = "") {
    const std::string allowed = "an integer " + std::to_string(lo) + ".." + std::to_string(hi) + unit;
    if (!n.is_integer()) {
        problems.Add(n.source(), field + " is " + TypeName(n), allowed);
        return std::nullopt;
    }
    const long long v = n.as_integer()->get();
    if (const auto fault = RangeFault(field, v, lo, hi, unit)) {
        problems.Add(n.source(), *fault);
        return std::nullopt;
    }
    return static_cast<int>(v);
}

// Where the name and number of a recipe stand in its file (for the checks of a folder).
struct Located {
    Place name;
    Place number;
};

void ReadTrigger(const toml::table& t, Recipe& recipe, std::map<int, Place>& rows, Problems& problems) {
    RecipeTrigger row;
    bool complete = true;
    std::optional<Place> rowPlace;
    const auto field = [&](const char* key) {
        return "trigger" + (rowPlace ? " " + std::to_string(row.row) : std::string()) + " " + key;
    };
    // The row first, so that the other values are named by it.
    if (const toml::node* n = t.get("row")) {
        const auto v = ReadInt(*n, "trigger row", 1, kTriggerRows, problems);
        complete = complete && v.has_value();
        if (v) {
            row.row = *v;
            rowPlace = PlaceOf(n->source());
        }
    } else {
        complete = false;
        problems.Add(PlaceOf(t.source()), Fault{"a [[trigger]] has no row", "row = 1..4", "required"});
    }
    for (auto&& [key, node] : t) {
        const std::string k(key.str());
        if (k == "row") {
            continue;
        }
        if (k == "delay_us" || k == "on_us") {
            const auto v = ReadInt(node, field(k.c_str()), 1, kMaxTriggerUs, problems, " microseconds");
            complete = complete && v.has_value();
            (k == "delay_us" ? row.delayUs : row.onUs) = v.value_or(1);
        } else if (k == "edge") {
            const std::string allowed = "\"positive\" or \"negative\"";
            if (!node.is_string()) {
                problems.Add(node.source(), field("edge") + " is " + TypeName(node), allowed);
                complete = false;
            } else if (node.as_string()->get() == "positive" || node.as_string()->get() == "negative") {
                row.edge = node.as_string()->get() == "positive" ? Edge::Positive : Edge::Negative;
            } else {
                problems.Add(node.source(), field("edge") + " is \"" + node.as_string()->get() + "\"", allowed);
                complete = false;
            }
        } else if (k == "enable") {
            if (node.is_boolean()) {
                row.enable = node.as_boolean()->get();
            } else {
                problems.Add(node.source(), field("enable") + " is " + TypeName(node), "true or false");
                complete = false;
            }
        } else {
            problems.Add(key.source(), "unknown key \"" + k + "\" in a [[trigger]]", std::string("keys ") + kTriggerKeys);
        }
    }
    for (const char* required : {"delay_us", "on_us"}) {
        if (t.get(required) == nullptr) {
            complete = false;
            problems.Add(PlaceOf(t.source()),
                         Fault{field(required) + " is missing", std::string(required) + " = 1..4000 (microseconds)",
                               "required"});
        }
    }
    if (rowPlace) {
        const auto [it, first] = rows.emplace(row.row, *rowPlace);
        if (!first) {
            problems.Add(*rowPlace, Fault{"trigger row " + std::to_string(row.row) + " is given twice (first at line " +
                                              std::to_string(it->second.line) + ")",
                                          "each row 1..4 at most once"});
            complete = false;
        }
    }
    if (complete) {
        recipe.triggers.push_back(row);
    }
}

void ReadStore(const toml::table& t, Recipe& recipe, Problems& problems) {
    for (auto&& [key, node] : t) {
        const std::string k(key.str());
        if (k == "bright_memory" || k == "trigger_memory") {
            const auto v = ReadInt(node, "store " + k, 0, kMemories - 1, problems);
            (k == "bright_memory" ? recipe.brightMemory : recipe.triggerMemory) = v;
        } else {
            problems.Add(key.source(), "unknown key \"" + k + "\" in [store]", std::string("keys ") + kStoreKeys);
        }
    }
}

Recipe Parse(const std::string& text, const std::string& source, Located* located) {
    toml::table root;
    try {
        root = toml::parse(text, source);
    } catch (const toml::parse_error& e) {
        Problems p(source);
        p.Add(e.source(), std::string(e.description()), "a TOML 1.0 file as docs/recipes.md shows");
        p.ThrowIfAny();
    }
    Problems problems(source);
    Recipe recipe;
    bool named = false;
    for (auto&& [key, node] : root) {
        const std::string k(key.str());
        if (k == "name") {
            if (!node.is_string()) {
                problems.Add(node.source(), "name is " + std::string(TypeName(node)),
                             "a string of letters, digits, '.', '_' and '-'");
            } else {
                recipe.name = node.as_string()->get();
                problems.Add(node.source(), detail::NameFault(recipe.name));
            }
            named = true;
            if (located != nullptr) {
                located->name = PlaceOf(node.source());
            }
        } else if (k == "number") {
            recipe.number = ReadInt(node, "number", 1, detail::kMaxRecipeNumber, problems);
            if (located != nullptr) {
                located->number = PlaceOf(node.source());
            }
        } else if (k == "brightness") {
            const toml::array* a = node.as_array();
            if (a == nullptr) {
                problems.Add(node.source(), "brightness is " + std::string(TypeName(node)),
                             "an array of integers 0..1024, channel 1 first");
                continue;
            }
            if (a->size() > static_cast<std::size_t>(kChannels)) {
                problems.Add(node.source(), "brightness holds " + std::to_string(a->size()) + " values",
                             "at most 16 (channels 1..16, channel 1 first)");
            }
            for (std::size_t i = 0; i < a->size(); ++i) {
                const auto v = ReadInt((*a)[i], "brightness " + std::to_string(i + 1), 0, kMaxBrightness, problems);
                recipe.brightness.push_back(v.value_or(0));
            }
        } else if (k == "on") {
            const toml::array* a = node.as_array();
            if (a == nullptr) {
                problems.Add(node.source(), "on is " + std::string(TypeName(node)), "an array of channels 1..16");
                continue;
            }
            std::map<int, Place> seen;
            for (const toml::node& element : *a) {
                const toml::source_region& r = element.source();
                if (!element.is_integer()) {
                    problems.Add(r, "on holds " + std::string(TypeName(element)), "channels 1..16 as integers");
                    continue;
                }
                const long long ch = element.as_integer()->get();
                if (ch < 1 || ch > kChannels) {
                    problems.Add(r, "on names channel " + std::to_string(ch), "channels 1..16");
                    continue;
                }
                const auto [it, first] = seen.emplace(static_cast<int>(ch), PlaceOf(r));
                if (!first) {
                    problems.Add(r, "on names channel " + std::to_string(ch) + " twice (first at column " +
                                        std::to_string(it->second.column) + ")",
                                 "each channel at most once");
                    continue;
                }
                recipe.on.push_back(static_cast<int>(ch));
            }
            std::sort(recipe.on.begin(), recipe.on.end());
        } else if (k == "trigger") {
            const toml::array* a = node.as_array();
            if (a == nullptr || !a->is_array_of_tables()) {
                problems.Add(node.source(), "trigger is " + std::string(TypeName(node)),
                             "[[trigger]] tables, one per row");
                continue;
            }
            std::map<int, Place> rows;
            for (const toml::node& t : *a) {
                ReadTrigger(*t.as_table(), recipe, rows, problems);
            }
            std::sort(recipe.triggers.begin(), recipe.triggers.end(),
                      [](const RecipeTrigger& x, const RecipeTrigger& y) { return x.row < y.row; });
        } else if (k == "store") {
            if (!node.is_table()) {
                problems.Add(node.source(), "store is " + std::string(TypeName(node)),
                             "a [store] table with bright_memory and trigger_memory 0..9");
                continue;
            }
            ReadStore(*node.as_table(), recipe, problems);
        } else {
            problems.Add(key.source(), "unknown key \"" + k + "\"", std::string("keys ") + kRootKeys);
        }
    }
    if (!named) {
        problems.Add(Place{}, Fault{"the recipe has no name",
                                    "name = \"...\" of letters, digits, '.', '_' and '-', 1..64 characters", "required"});
    }
    problems.ThrowIfAny();
    recipe.sha256 = QCryptographicHash::hash(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())),
                                             QCryptographicHash::Sha256)
                        .toHex()
                        .toStdString();
    return recipe;
}

std::string ReadBytes(const std::string& path) {
    detail::RefuseNul(path, ErrorKind::File, "file name");
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw Error(ErrorKind::File, path + ": cannot be read: it is a folder");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Error(ErrorKind::File, path + ": cannot be read: " + std::strerror(errno));
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        throw Error(ErrorKind::File, path + ": cannot be read: " + std::strerror(errno));
    }
    return bytes.str();
}

std::string Ints(const std::vector<int>& values) {
    std::string s = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        s += (i == 0 ? "" : ", ") + std::to_string(values[i]);
    }
    return s + "]";
}

}  // namespace

std::array<int, kChannels> Recipe::channelBrightness() const {
    std::array<int, kChannels> out{};
    for (std::size_t i = 0; i < brightness.size() && i < out.size(); ++i) {
        out[i] = brightness[i];
    }
    return out;
}

std::uint16_t Recipe::onMask() const {
    std::uint16_t mask = 0;
    for (const int ch : on) {
        if (ch >= 1 && ch <= kChannels) {
            mask = static_cast<std::uint16_t>(mask | (1u << (ch - 1)));
        }
    }
    return mask;
}

Recipe readRecipeText(const std::string& text, const std::string& source) { return Parse(text, source, nullptr); }

Recipe readRecipeFile(const std::string& path) { return Parse(ReadBytes(path), path, nullptr); }

void checkRecipe(const Recipe& recipe) {
    std::vector<Fault> faults;
    const auto add = [&faults](const std::optional<Fault>& f) {
        if (f) {
            faults.push_back(*f);
        }
    };
    add(detail::NameFault(recipe.name));
    if (recipe.number) {
        add(RangeFault("number", *recipe.number, 1, detail::kMaxRecipeNumber));
    }
    if (recipe.brightness.size() > static_cast<std::size_t>(kChannels)) {
        faults.push_back({"brightness holds " + std::to_string(recipe.brightness.size()) + " values",
                          "at most 16 (channels 1..16, channel 1 first)"});
    }
    for (std::size_t i = 0; i < recipe.brightness.size(); ++i) {
        add(RangeFault("brightness " + std::to_string(i + 1), recipe.brightness[i], 0, kMaxBrightness));
    }
    std::vector<bool> on(kChannels + 1, false);
    for (const int ch : recipe.on) {
        if (ch < 1 || ch > kChannels) {
            faults.push_back({"on names channel " + std::to_string(ch), "channels 1..16"});
        } else if (on[static_cast<std::size_t>(ch)]) {
            faults.push_back({"on names channel " + std::to_string(ch) + " twice", "each channel at most once"});
        } else {
            on[static_cast<std::size_t>(ch)] = true;
        }
    }
    std::vector<bool> rows(kTriggerRows + 1, false);
    for (const RecipeTrigger& t : recipe.triggers) {
        if (const auto f = RangeFault("trigger row", t.row, 1, kTriggerRows)) {
            faults.push_back(*f);
            continue;
        }
        const std::string name = "trigger " + std::to_string(t.row);
        if (rows[static_cast<std::size_t>(t.row)]) {
            faults.push_back({"trigger row " + std::to_string(t.row) + " is given twice", "each row 1..4 at most once"});
        }
        rows[static_cast<std::size_t>(t.row)] = true;
        add(RangeFault(name + " delay_us", t.delayUs, 1, kMaxTriggerUs, " microseconds"));
        add(RangeFault(name + " on_us", t.onUs, 1, kMaxTriggerUs, " microseconds"));
    }
    if (recipe.brightMemory) {
        add(RangeFault("store bright_memory", *recipe.brightMemory, 0, kMemories - 1));
    }
    if (recipe.triggerMemory) {
        add(RangeFault("store trigger_memory", *recipe.triggerMemory, 0, kMemories - 1));
    }
    std::string message;
    for (const Fault& f : faults) {
        message += (message.empty() ? "" : "\n") + FaultText(f);
    }
    if (!message.empty()) {
        throw Error(ErrorKind::Argument, message);
    }
}

std::string formatRecipe(const Recipe& recipe) {
    checkRecipe(recipe);
    std::vector<int> on = recipe.on;
    std::sort(on.begin(), on.end());
    std::vector<RecipeTrigger> triggers = recipe.triggers;
    std::sort(triggers.begin(), triggers.end(), [](const RecipeTrigger& x, const RecipeTrigger& y) { return x.row < y.row; });
    // The name holds no character that a TOML basic string would have to escape.
    std::string out = "name = \"" + recipe.name + "\"\n";
    if (recipe.number) {
        out += "number = " + std::to_string(*recipe.number) + "\n";
    }
    out += "brightness = " + Ints(recipe.brightness) + "\n";
    out += "on = " + Ints(on) + "\n";
    for (const RecipeTrigger& t : triggers) {
        out += "\n[[trigger]]\nrow = " + std::to_string(t.row) + "\ndelay_us = " + std::to_string(t.delayUs) +
               "\non_us = " + std::to_string(t.onUs) + "\n";
        if (t.edge) {
            out += std::string("edge = \"") + detail::EdgeName(*t.edge) + "\"\n";
        }
        if (t.enable) {
            out += std::string("enable = ") + (*t.enable ? "true" : "false") + "\n";
        }
    }
    if (recipe.brightMemory || recipe.triggerMemory) {
        out += "\n[store]\n";
        if (recipe.brightMemory) {
            out += "bright_memory = " + std::to_string(*recipe.brightMemory) + "\n";
        }
        if (recipe.triggerMemory) {
            out += "trigger_memory = " + std::to_string(*recipe.triggerMemory) + "\n";
        }
    }
    return out;
}

std::vector<Recipe> readRecipeFolder(const std::string& folder) {
    detail::RefuseNul(folder, ErrorKind::File, "folder name");
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        throw Error(ErrorKind::File, folder + ": not a folder" + (ec ? ": " + ec.message() : std::string()));
    }
    std::vector<std::filesystem::path> files;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::filesystem::path& p = it->path();
        std::error_code typeError;
        if (p.extension() == ".toml" && !it->is_directory(typeError)) {
            files.push_back(p);
        }
    }
    if (ec) {
        throw Error(ErrorKind::File, folder + ": cannot be listed: " + ec.message());
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.filename() < b.filename(); });

    std::vector<Recipe> recipes;
    std::string message;
    const auto problem = [&message](const std::string& text) { message += (message.empty() ? "" : "\n") + text; };
    std::map<std::string, std::string> byName;
    std::map<int, std::string> byNumber;
    for (const std::filesystem::path& p : files) {
        const std::string path = p.string();
        try {
            Located at;
            Recipe r = Parse(ReadBytes(path), path, &at);
            const Problems where(path);
            if (const auto [first, fresh] = byName.emplace(r.name, path); !fresh) {
                problem(where.At(at.name) + "name \"" + r.name + "\" is also the name in " + first->second +
                        "; allowed: each name once in a folder");
            }
            if (r.number) {
                if (const auto [first, fresh] = byNumber.emplace(*r.number, path); !fresh) {
                    problem(where.At(at.number) + "number " + std::to_string(*r.number) + " is also the number in " +
                            first->second + "; allowed: each number once in a folder");
                }
            }
            recipes.push_back(std::move(r));
        } catch (const Error& e) {
            problem(e.what());
        }
    }
    if (!message.empty()) {
        throw Error(ErrorKind::File, message);
    }
    return recipes;
}

const char* recipeResultName(RecipeResult result) noexcept {
    switch (result) {
    case RecipeResult::Verified: return "verified";
    case RecipeResult::Differs: return "differs";
    case RecipeResult::Failed: return "failed";
    }
    return "failed";
}

}  // namespace lumitrax
