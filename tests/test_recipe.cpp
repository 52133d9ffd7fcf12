// Recipes: strict reading (every bad file named at its line and column), the canonical text,
// folders as sets, and applyRecipe/verifyRecipe/captureRecipe against lumitrax-sim, checked on
// the wire (its transcript) and read back; the record shared by two processes.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <lumitrax/controller.h>
#include <lumitrax/recipe.h>

#include "recipe_record.h"
#include "sim_process.h"
#include "temp_files.h"

namespace {

using lumitrax::Edge;
using lumitrax::ErrorKind;
using lumitrax::Recipe;
using lumitrax::RecipeResult;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The message of the Error(kind) that f throws; empty when it throws none.
std::string Message(ErrorKind kind, const std::function<void()>& f) {
    try {
        f();
    } catch (const lumitrax::Error& e) {
        EXPECT_EQ(e.kind(), kind) << e.what();
        return e.what();
    }
    return {};
}

// Every bad file is refused with the place of the value at fault and words that say why.
TEST(RecipeRead, EveryProblemIsNamedAtItsLineAndColumn) {
    const struct {
        const char* text;
        const char* where;   // "recipe:LINE:COLUMN: "
        const char* words;   // part of the message
    } cases[] = {
        {"name = \"housing\"\nbrightnes = [1]\n", "recipe:2:1: ", "unknown key \"brightnes\"; allowed: keys name,"},
        {"name = \"a b\"\n", "recipe:1:8: ", "holds ' '; allowed: letters"},
        {"name = \"\"\n", "recipe:1:8: ", "name is empty"},
        {"name = 'x1234567890123456789012345678901234567890123456789012345678901234'\n", "recipe:1:8: ",
         "name has 65 characters"},
        {"name = 12\n", "recipe:1:8: ", "name is an integer"},
        {"number = 3\n", "recipe:1:1: ", "the recipe has no name; required: name"},
        {"name = \"x\"\nnumber = 0\n", "recipe:2:10: ", "number is 0; allowed: 1..9999"},
        {"name = \"x\"\nnumber = 10000\n", "recipe:2:10: ", "number is 10000"},
        {"name = \"x\"\nbrightness = [1, \"2\"]\n", "recipe:2:18: ", "brightness 2 is a string; allowed: an integer 0..1024"},
        {"name = \"x\"\nbrightness = [0, 1025]\n", "recipe:2:18: ", "brightness 2 is 1025; allowed: 0..1024"},
        {"name = \"x\"\nbrightness = [-1]\n", "recipe:2:15: ", "brightness 1 is -1"},
        {"name = \"x\"\nbrightness = [0.5]\n", "recipe:2:15: ", "is a number with a fraction"},
        {"name = \"x\"\nbrightness = [1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1]\n", "recipe:2:14: ",
         "brightness holds 17 values; allowed: at most 16"},
        {"name = \"x\"\nbrightness = 5\n", "recipe:2:14: ", "brightness is an integer"},
        {"name = \"x\"\non = [1, 3, 3]\n", "recipe:2:13: ", "on names channel 3 twice (first at column 10)"},
        {"name = \"x\"\non = [0]\n", "recipe:2:7: ", "on names channel 0; allowed: channels 1..16"},
        {"name = \"x\"\non = [16, 17]\n", "recipe:2:11: ", "on names channel 17"},
        {"name = \"x\"\n[[trigger]]\nrow = 1\ndelay_us = 1\non_us = 1\n[[trigger]]\nrow = 1\ndelay_us = 2\non_us = 2\n",
         "recipe:7:7: ", "trigger row 1 is given twice (first at line 3); allowed: each row 1..4 at most once"},
        {"name = \"x\"\n[[trigger]]\nrow = 5\ndelay_us = 1\non_us = 1\n", "recipe:3:7: ", "trigger row is 5; allowed: 1..4"},
        {"name = \"x\"\n[[trigger]]\nrow = 2\ndelay_us = 0\non_us = 1\n", "recipe:4:12: ",
         "trigger 2 delay_us is 0; allowed: 1..4000 microseconds"},
        {"name = \"x\"\n[[trigger]]\nrow = 2\ndelay_us = 1\non_us = 4001\n", "recipe:5:9: ", "trigger 2 on_us is 4001"},
        {"name = \"x\"\n[[trigger]]\nrow = 2\ndelay_us = 1\n", "recipe:2:1: ", "trigger 2 on_us is missing; required: on_us = 1..4000"},
        {"name = \"x\"\n[[trigger]]\nrow = 2\ndelay_us = 1\non_us = 1\nedge = \"up\"\n", "recipe:6:8: ",
         "trigger 2 edge is \"up\"; allowed: \"positive\" or \"negative\""},
        {"name = \"x\"\n[[trigger]]\nrow = 2\ndelay_us = 1\non_us = 1\nenable = 1\n", "recipe:6:10: ",
         "trigger 2 enable is an integer; allowed: true or false"},
        {"name = \"x\"\n[[trigger]]\nrow = 2\ndelay_us = 1\non_us = 1\noff_us = 10\n", "recipe:6:1: ",
         "unknown key \"off_us\" in a [[trigger]]"},
        {"name = \"x\"\ntrigger = 5\n", "recipe:2:11: ", "trigger is an integer; allowed: [[trigger]] tables"},
        {"name = \"x\"\n[store]\nbright_memory = 10\n", "recipe:3:17: ", "store bright_memory is 10; allowed: 0..9"},
        {"name = \"x\"\n[store]\nmemory = 1\n", "recipe:3:1: ", "unknown key \"memory\" in [store]"},
        {"name = \"x\nbrightness = []\n", "recipe:1:", "allowed: a TOML 1.0 file"},
        {"name = \"x\"\nname = \"y\"\n", "recipe:2:", "allowed: a TOML 1.0 file"},
    };
    for (const auto& c : cases) {
        const std::string message = Message(ErrorKind::File, [&] { lumitrax::readRecipeText(c.text); });
        EXPECT_EQ(message.rfind(c.where, 0), 0U) << c.text << "\n-> " << message;
        EXPECT_NE(message.find(c.words), std::string::npos) << c.text << "\n-> " << message;
    }
}

// Several problems are named together, in the order they stand in the file.
TEST(RecipeRead, EveryProblemOfAFileIsNamedInFileOrder) {
    const std::string message = Message(ErrorKind::File, [] {
        lumitrax::readRecipeText("on = [0]\nname = \"a/b\"\nbrightness = [2000]\n", "top.toml");
    });
    const std::vector<std::string> expected{"top.toml:1:7: ", "top.toml:2:8: ", "top.toml:3:15: "};
    std::size_t from = 0;
    for (const std::string& e : expected) {
        const std::size_t at = message.find(e, from);
        ASSERT_NE(at, std::string::npos) << message;
        from = at + 1;
    }
}

// The SHA-256 is that of the exact bytes (as sha256sum prints it), line ends included.
TEST(RecipeRead, TheDigestIsOverTheExactBytes) {
    TempDir dir;
    Write(dir / "a.toml", "name = \"x\"\r\n");
    EXPECT_EQ(lumitrax::readRecipeFile(dir / "a.toml").sha256,
              "b3db20088b22cfebead7bf9552ae9ecb9c974177f9c3e932bd26fd5d60b6ac28");
    EXPECT_NE(lumitrax::readRecipeText("name = \"x\"\n").sha256, lumitrax::readRecipeFile(dir / "a.toml").sha256);
    EXPECT_NE(Message(ErrorKind::File, [&] { lumitrax::readRecipeFile(dir / "missing.toml"); })
                  .find("missing.toml: cannot be read"),
              std::string::npos);
}

Recipe FullRecipe() {
    Recipe r;
    r.name = "housing-a12.top_2";
    r.number = 12;
    r.brightness = {512, 0, 1024, 7};
    r.on = {1, 3, 16};
    r.triggers = {{1, 100, 50, Edge::Negative, true}, {3, 4000, 1, std::nullopt, false}, {4, 1, 2, Edge::Positive, std::nullopt}};
    r.brightMemory = 0;
    r.triggerMemory = 9;
    return r;
}

void ExpectSame(const Recipe& a, const Recipe& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.number, b.number);
    EXPECT_EQ(a.brightness, b.brightness);
    EXPECT_EQ(a.on, b.on);
    ASSERT_EQ(a.triggers.size(), b.triggers.size());
    for (std::size_t i = 0; i < a.triggers.size(); ++i) {
        EXPECT_EQ(a.triggers[i].row, b.triggers[i].row);
        EXPECT_EQ(a.triggers[i].delayUs, b.triggers[i].delayUs);
        EXPECT_EQ(a.triggers[i].onUs, b.triggers[i].onUs);
        EXPECT_EQ(a.triggers[i].edge, b.triggers[i].edge);
        EXPECT_EQ(a.triggers[i].enable, b.triggers[i].enable);
    }
    EXPECT_EQ(a.brightMemory, b.brightMemory);
    EXPECT_EQ(a.triggerMemory, b.triggerMemory);
}

TEST(RecipeFormat, WhatIsFormattedReadsBackTheSame) {
    Recipe small;
    small.name = "dark";
    for (const Recipe& r : {FullRecipe(), small}) {
        const std::string text = lumitrax::formatRecipe(r);
        const Recipe back = lumitrax::readRecipeText(text);
        ExpectSame(back, r);
        EXPECT_EQ(lumitrax::formatRecipe(back), text);
    }
    // Channels and rows in any order are read in ascending order.
    const Recipe unordered = lumitrax::readRecipeText(
        "name = \"u\"\non = [5, 1]\n[[trigger]]\nrow = 4\ndelay_us = 1\non_us = 1\n[[trigger]]\nrow = 2\ndelay_us = 1\non_us = 1\n");
    EXPECT_EQ(unordered.on, (std::vector<int>{1, 5}));
    EXPECT_EQ(unordered.onMask(), 0x0011);
    ASSERT_EQ(unordered.triggers.size(), 2U);
    EXPECT_EQ(unordered.triggers[0].row, 2);
    const auto b = FullRecipe().channelBrightness();
    EXPECT_EQ((std::vector<int>(b.begin(), b.begin() + 5)), (std::vector<int>{512, 0, 1024, 7, 0}));
    EXPECT_EQ(FullRecipe().onMask(), 0x8005);
}

// A recipe made in code is checked as a file is, naming every bad value.
TEST(RecipeCheck, EveryBadValueIsNamed) {
    const struct {
        std::function<void(Recipe&)> spoil;
        const char* words;
    } cases[] = {
        {[](Recipe& r) { r.name = "a b"; }, "name \"a b\" holds ' '"},
        {[](Recipe& r) { r.number = 0; }, "number is 0"},
        {[](Recipe& r) { r.brightness = std::vector<int>(17, 0); }, "brightness holds 17 values"},
        {[](Recipe& r) { r.brightness[2] = 1025; }, "brightness 3 is 1025"},
        {[](Recipe& r) { r.on = {0}; }, "on names channel 0"},
        {[](Recipe& r) { r.on = {2, 2}; }, "on names channel 2 twice"},
        {[](Recipe& r) { r.triggers[1].row = 1; }, "trigger row 1 is given twice"},
        {[](Recipe& r) { r.triggers[0].delayUs = 4001; }, "trigger 1 delay_us is 4001"},
        {[](Recipe& r) { r.brightMemory = 10; }, "store bright_memory is 10"},
    };
    for (const auto& c : cases) {
        Recipe r = FullRecipe();
        c.spoil(r);
        const std::string message = Message(ErrorKind::Argument, [&] { lumitrax::checkRecipe(r); });
        EXPECT_NE(message.find(c.words), std::string::npos) << message;
        EXPECT_EQ(Message(ErrorKind::Argument, [&] { lumitrax::formatRecipe(r); }), message);
    }
    lumitrax::checkRecipe(FullRecipe());
}

// A folder is a set: every bad file, name and number is named in one error.
TEST(RecipeFolder, NamesAndNumbersAreUniqueAndEveryProblemIsNamed) {
    TempDir dir;
    Write(dir / "b.toml", "name = \"b\"\nnumber = 2\n");
    Write(dir / "a.toml", "name = \"a\"\nnumber = 1\n");
    Write(dir / "notes.txt", "not a recipe");
    const std::vector<Recipe> good = lumitrax::readRecipeFolder(dir.path());
    ASSERT_EQ(good.size(), 2U);
    EXPECT_EQ(good[0].name, "a");
    EXPECT_EQ(good[1].name, "b");

    Write(dir / "c.toml", "number = 1\nname = \"b\"\n");
    Write(dir / "d.toml", "name = \"d\"\nbrightness = [5000]\n");
    const std::string message = Message(ErrorKind::File, [&] { lumitrax::readRecipeFolder(dir.path()); });
    EXPECT_NE(message.find(dir / "c.toml:2:8: name \"b\" is also the name in " + dir / "b.toml"), std::string::npos)
        << message;
    EXPECT_NE(message.find(dir / "c.toml:1:10: number 1 is also the number in " + dir / "a.toml"), std::string::npos)
        << message;
    EXPECT_NE(message.find(dir / "d.toml:2:15: brightness 1 is 5000"), std::string::npos) << message;
    EXPECT_FALSE(Message(ErrorKind::File, [&] { lumitrax::readRecipeFolder(dir / "none"); }).empty());
}

// ---- against lumitrax-sim ----

Recipe SimRecipe() {
    return lumitrax::readRecipeText(R"(name = "housing"
brightness = [100, 200, 300]
on = [1, 3]
[[trigger]]
row = 2
delay_us = 100
on_us = 50
edge = "negative"
enable = true
[[trigger]]
row = 3
delay_us = 10
on_us = 5
)");
}

// The fewest commands: what the rows keep is read first, every channel of the model written
// (the simulator takes no packets), the exact on mask, the rows, then the read-back.
TEST(RecipeApply, WritesWhatTheRecipeSaysAndReadsItBack) {
    TempDir dir;
    SimProcess sim({"--channels", "8", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    const lumitrax::RecipeReport report = lx.applyRecipe(SimRecipe());
    EXPECT_EQ(report.result, RecipeResult::Verified) << report.error;
    EXPECT_TRUE(report.differences.empty());
    EXPECT_EQ(report.stepsWritten, (std::vector<std::string>{"brightness", "on mask", "trigger 2", "trigger 3"}));
    EXPECT_FALSE(report.savedBrightMemory);
    EXPECT_EQ(Lines(dir / "t"),
              (std::vector<std::string>{"getmodelch", "getusepacket", "gettrigindex", "gettrigger 2", "# 0 100", "# 1 200",
                                        "# 2 300", "# 3 0", "# 4 0", "# 5 0", "# 6 0", "# 7 0", "setonex 00000005",
                                        "settrigger 1 1 1 99 49 490", "settrigger 2 0 0 9 4 40", "getbrightindex", "$ 255",
                                        "getonex", "gettrigindex", "gettrigger 1", "gettrigger 2"}));
    const lumitrax::Brightness b = lx.currentBrightness();
    EXPECT_EQ(b.channels[2].brightness, 300);
    EXPECT_EQ(b.channels[3].brightness, 0);
    EXPECT_EQ(b.onMask, 0x0005);

    const Recipe captured = lx.captureRecipe("captured");
    EXPECT_EQ(captured.brightness, (std::vector<int>{100, 200, 300, 0, 0, 0, 0, 0}));
    EXPECT_EQ(captured.on, (std::vector<int>{1, 3}));
    ASSERT_EQ(captured.triggers.size(), 4U);
    EXPECT_EQ(captured.triggers[1].delayUs, 100);
    EXPECT_EQ(captured.triggers[1].edge, Edge::Negative);
    EXPECT_EQ(captured.triggers[2].enable, false);
    EXPECT_EQ(lx.verifyRecipe(captured).result, RecipeResult::Verified);
}

// A controller that takes packets gets all 16 values in one, channels past the list at 0.
TEST(RecipeApply, WhereTheControllerTakesPacketsTheBrightnessIsOnePacket) {
    TempDir dir;
    SimProcess sim({"--channels", "16", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    lx.setTimeout(200);
    lx.raw("setusepacket 1");
    const lumitrax::RecipeReport report = lx.applyRecipe(lumitrax::readRecipeText("name = \"p\"\nbrightness = [1, 258, 1024]\n"));
    EXPECT_EQ(report.result, RecipeResult::Verified) << report.error;
    std::string packet = "fe fe 1b 00 20 00 01 01 02 04 00";
    for (int i = 3; i < 16; ++i) {
        packet += " 00 00";
    }
    packet += " fd";
    EXPECT_EQ(Lines(dir / "t"), (std::vector<std::string>{"setusepacket 1", "getmodelch", "getusepacket", packet,
                                                           "setonex 00000000", "getbrightindex", "$ 255", "getonex"}));
}

// A second call finds what changed behind the recipe's back, field by field, and writes nothing.
TEST(RecipeApply, VerifyNamesEveryFieldThatChanged) {
    TempDir dir;
    SimProcess sim({"--channels", "8", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    ASSERT_EQ(lx.applyRecipe(SimRecipe()).result, RecipeResult::Verified);
    lx.setBrightness(2, 999);
    lx.switchChannels({5}, true);
    lx.setTrigger({2, false, Edge::Positive, 300, 50, 0});
    const std::size_t before = Lines(dir / "t").size();
    const lumitrax::RecipeReport report = lx.verifyRecipe(SimRecipe());
    EXPECT_EQ(report.result, RecipeResult::Differs);
    std::vector<std::string> found;
    for (const auto& d : report.differences) {
        found.push_back(d.field + ": " + d.wanted + " / " + d.found);
    }
    EXPECT_EQ(found, (std::vector<std::string>{"brightness 2: 200 / 999", "on 5: off / on", "trigger 2 delay_us: 100 / 300",
                                               "trigger 2 edge: negative / positive", "trigger 2 enable: true / false"}));
    const std::vector<std::string> sent = Lines(dir / "t");
    for (std::size_t i = before; i < sent.size(); ++i) {
        EXPECT_TRUE(sent[i].rfind("get", 0) == 0 || sent[i] == "$ 255") << sent[i];
    }
}

// The memories are saved only where they do not hold the recipe yet; the rows the recipe does
// not name keep their working values however the memory was looked at.
TEST(RecipeApply, StoreSavesOnlyWhereAMemoryDiffers) {
    TempDir dir;
    SimProcess sim({"--channels", "8", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    lx.setTrigger({4, true, Edge::Negative, 77, 7, 0});  // working row 4, not in memory 0
    Recipe r = SimRecipe();
    r.brightMemory = 0;  // the current memories
    r.triggerMemory = 0;
    const auto saves = [&] {
        std::vector<std::string> s;
        for (const std::string& line : Lines(dir / "t")) {
            if (line.rfind("save", 0) == 0) {
                s.push_back(line);
            }
        }
        return s;
    };

    const lumitrax::RecipeReport first = lx.applyRecipe(r);
    EXPECT_EQ(first.result, RecipeResult::Verified) << first.error;
    EXPECT_TRUE(first.savedBrightMemory);
    EXPECT_TRUE(first.savedTriggerMemory);
    EXPECT_EQ(saves(), (std::vector<std::string>{"savebright 0", "savetrigger 0"}));
    EXPECT_EQ(lx.verifyRecipe(r).result, RecipeResult::Verified);
    EXPECT_EQ(lx.state().triggers[3].delayUs, 77);

    const lumitrax::RecipeReport second = lx.applyRecipe(r);
    EXPECT_EQ(second.result, RecipeResult::Verified) << second.error;
    EXPECT_FALSE(second.savedBrightMemory);
    EXPECT_FALSE(second.savedTriggerMemory);
    EXPECT_EQ(saves().size(), 2U);
    EXPECT_EQ(lx.verifyRecipe(r).result, RecipeResult::Verified);

    // Memories 3 are not the current ones: looking at them switches to them, and the apply
    // switches back, so the controller still works on memories 0 with the recipe's light.
    r.brightMemory = 3;
    r.triggerMemory = 3;
    for (const bool firstTime : {true, false}) {
        const lumitrax::RecipeReport report = lx.applyRecipe(r);
        EXPECT_EQ(report.result, RecipeResult::Verified) << report.error;
        EXPECT_EQ(report.savedBrightMemory, firstTime);
        EXPECT_EQ(report.savedTriggerMemory, firstTime);
        EXPECT_EQ(lx.currentBrightness().memory, 0);
        EXPECT_EQ(lx.verifyRecipe(r).result, RecipeResult::Verified);
        const auto state = lx.state();
        EXPECT_EQ(state.triggerMemory, 0);
        EXPECT_EQ(state.triggers[3].delayUs, 77);
    }
    EXPECT_EQ(saves(), (std::vector<std::string>{"savebright 0", "savetrigger 0", "savebright 3", "savetrigger 3"}));
    const auto memory3 = lx.loadBrightMemory(3);
    EXPECT_EQ(memory3[2].brightness, 300);
    EXPECT_FALSE(memory3[1].on);
}

// An 8-channel model: a recipe that names channel 9 is refused and nothing is written.
TEST(RecipeApply, AChannelAboveTheModelsCountIsRefusedWithNothingSent) {
    TempDir dir;
    SimProcess sim({"--channels", "8", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Controller lx(sim.devicePath());
    Recipe on9 = SimRecipe();
    on9.on = {1, 9};
    Recipe bright9 = SimRecipe();
    bright9.brightness = std::vector<int>(9, 0);
    EXPECT_NE(Message(ErrorKind::Argument, [&] { lx.applyRecipe(on9, dir / "record"); })
                  .find("on names channel 9, but " + sim.devicePath() + " has 8 channels; allowed: channels 1..8"),
              std::string::npos);
    EXPECT_NE(Message(ErrorKind::Argument, [&] { lx.applyRecipe(bright9); }).find("brightness gives 9 values"),
              std::string::npos);
    EXPECT_FALSE(Message(ErrorKind::Argument, [&] { lx.verifyRecipe(on9); }).empty());
    EXPECT_FALSE(Message(ErrorKind::Argument, [&] { lx.captureRecipe("no name"); }).empty());
    EXPECT_EQ(Lines(dir / "t"), (std::vector<std::string>{"getmodelch"}));
    EXPECT_FALSE(std::filesystem::exists(dir / "record"));
}

QJsonObject ParseLine(const std::string& line) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_TRUE(doc.isObject()) << line;
    return doc.object();
}

// The record of an apply, verified and failed: identity read once, result, steps.
TEST(RecipeRecord, EachApplyAppendsOneLineOfJson) {
    TempDir dir;
    SimProcess sim({"--channels", "8", "--hangup-after", "30", "--transcript", dir / "t"});
    ASSERT_FALSE(sim.devicePath().empty());
    lumitrax::Options options;
    options.reconnect = false;
    lumitrax::Controller lx(sim.devicePath(), options);
    const Recipe r = lumitrax::readRecipeText("name = \"rec\"\nnumber = 7\nbrightness = [1, 2]\non = [2]\n");
    ASSERT_EQ(lx.applyRecipe(r, dir / "log.jsonl").result, RecipeResult::Verified);
    const std::vector<std::string> sent = Lines(dir / "t");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "getsn"), 1);
    // 20 commands so far; the second apply reads 7 and is cut off among its 8 brightness commands.
    const lumitrax::RecipeReport failed = lx.applyRecipe(r, dir / "log.jsonl");
    EXPECT_EQ(failed.result, RecipeResult::Failed);
    EXPECT_FALSE(failed.error.empty());
    ASSERT_FALSE(failed.stepsWritten.empty());
    EXPECT_NE(failed.stepsWritten[0].find("brightness ("), std::string::npos) << failed.stepsWritten[0];
    EXPECT_EQ(failed.stepsNotWritten.back(), "on mask");

    const std::vector<std::string> lines = Lines(dir / "log.jsonl");
    ASSERT_EQ(lines.size(), 2U);
    const QJsonObject ok = ParseLine(lines[0]);
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)").match(ok["time"].toString()).hasMatch())
        << ok["time"].toString().toStdString();
    EXPECT_EQ(ok["port"].toString().toStdString(), sim.devicePath());
    EXPECT_EQ(ok["serial"].toString(), "LX24A00017");
    EXPECT_EQ(ok["model"].toString(), "LX-1608");
    EXPECT_EQ(ok["firmware"].toString(), "2.5.0");
    EXPECT_EQ(ok["recipe"].toString(), "rec");
    EXPECT_EQ(ok["number"].toInt(), 7);
    EXPECT_EQ(ok["sha256"].toString().toStdString(), r.sha256);
    EXPECT_EQ(ok["result"].toString(), "verified");
    EXPECT_TRUE(ok["differences"].toArray().isEmpty());
    EXPECT_FALSE(ok.contains("error"));
    EXPECT_GT(ok["duration_ms"].toDouble(), 0.0);
    const QJsonObject bad = ParseLine(lines[1]);
    EXPECT_EQ(bad["result"].toString(), "failed");
    EXPECT_EQ(bad["error"].toString().toStdString(), failed.error);

    const std::string message =
        Message(ErrorKind::File, [&] { lx.applyRecipe(r, dir / "no-such-folder/log.jsonl"); });
    EXPECT_NE(message.find("the light was not set"), std::string::npos) << message;
    EXPECT_NE(message.find("its record was not written"), std::string::npos) << message;
}

// Two processes append to one record file at once: every line is whole JSON, none is lost.
TEST(RecipeRecord, TwoProcessesAppendWholeLines) {
    TempDir dir;
    const std::string path = dir / "shared.jsonl";
    constexpr int kEach = 200;
    Recipe r;
    r.name = "shared";
    r.sha256 = std::string(64, 'a');
    // Built before the fork: the children only append.
    std::vector<std::string> lines[2];
    std::vector<lumitrax::RecipeReport> reports(2 * kEach);
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < kEach; ++i) {
            lumitrax::RecipeReport& report = reports[static_cast<std::size_t>(p * kEach + i)];
            report.result = RecipeResult::Failed;
            report.error = std::string(8000, static_cast<char>('a' + p)) + " " + std::to_string(i);
            lines[p].push_back(lumitrax::detail::RecordLine({std::chrono::system_clock::now(), "p" + std::to_string(p),
                                                             std::nullopt, &r, &report}));
        }
    }
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            try {
                for (const std::string& line : lines[p]) {
                    lumitrax::detail::AppendRecord(path, line, "test");
                }
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int next[2] = {0, 0};
    const std::vector<std::string> written = Lines(path);
    ASSERT_EQ(written.size(), 2U * kEach);
    for (const std::string& line : written) {
        const QJsonObject o = ParseLine(line);
        const int p = o["port"].toString() == "p1" ? 1 : 0;
        EXPECT_EQ(o["error"].toString().toStdString(), reports[static_cast<std::size_t>(p * kEach + next[p])].error);
        EXPECT_TRUE(o["serial"].isNull());
        ++next[p];
    }
    EXPECT_EQ(next[0], kEach);
    EXPECT_EQ(next[1], kEach);
}

}  // namespace
