// Time of each Controller API call against a controller (lumitrax-sim), best and median of N,
// beside its pacing floor (10 ms per command sent). The port is opened once; process start
// and opening are not counted. Run it against `lumitrax-sim` and `lumitrax-sim --echo 0`: a call
// whose commands an echo could acknowledge ends, with a controller that does not echo, with one
// more query (one pacing more than the floor shown).
// The recipe cases apply a recipe for every channel of the model with four trigger rows (run
// against `lumitrax-sim --channels 16`): getusepacket, the brightness (one packet, or one command
// per channel), the on mask, four rows, and the read-back (getbrightindex, "$ 255", getonex,
// gettrigindex, four gettrigger); with a record, six identity queries more. With a controller
// that does not echo, each written step ends with one more query (six more).
//   bench_api PORT [RUNS]
#include <lumitrax/controller.h>
#include <lumitrax/recipe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
    lumitrax::Controller c{argv[1]};
    const lumitrax::Configuration config = c.readConfiguration();
    struct Case {
        const char* name;
        int commands;
        std::function<void()> call;
    };
    const int channels = c.channelCount();
    lumitrax::Recipe recipe;
    recipe.name = "bench";
    for (int ch = 1; ch <= channels; ++ch) {
        recipe.brightness.push_back(ch * 60);
        if (ch % 2 == 1) {
            recipe.on.push_back(ch);
        }
    }
    for (int row = 1; row <= lumitrax::kTriggerRows; ++row) {
        recipe.triggers.push_back({row, 100 * row, 10 * row, lumitrax::Edge::Positive, row % 2 == 0});
    }
    const int recipeCommands = 1 + (config.usePacket.value_or(false) ? 1 : channels) + 1 + 4 + 8;
    const std::string record = "/tmp/bench_api_record." + std::to_string(getpid()) + ".jsonl";
    const auto apply = [&](const std::string& path) {
        const lumitrax::RecipeReport r = c.applyRecipe(recipe, path);
        if (r.result != lumitrax::RecipeResult::Verified) {
            std::fprintf(stderr, "applyRecipe: %s %s\n", lumitrax::recipeResultName(r.result), r.error.c_str());
            std::exit(1);
        }
    };
    const Case cases[] = {
        {"applyRecipe(all ch, 4 rows)", recipeCommands, [&] { apply({}); }},
        {"applyRecipe(..., record)", recipeCommands + 6, [&] { apply(record); }},
        {"verifyRecipe(all ch, 4 rows)", 8, [&] { c.verifyRecipe(recipe); }},
        {"identity()", 6, [&] { c.identity(); }},
        {"state()", 29, [&] { c.state(); }},
        {"setBrightness(3, 512)", 1, [&] { c.setBrightness(3, 512); }},
        {"setAllBrightness(200)", 16, [&] { c.setAllBrightness(200); }},
        {"switchChannels({1, 3}, true)", 3, [&] { c.switchChannels({1, 3}, true); }},
        {"switchAll(false)", 1, [&] { c.switchAll(false); }},
        {"setTrigger(row 2)", 1, [&] { c.setTrigger({2, true, lumitrax::Edge::Negative, 100, 50, 0}); }},
        {"loadBrightMemory(0)", 3, [&] { c.loadBrightMemory(0); }},
        {"loadTriggerMemory(0)", 5, [&] { c.loadTriggerMemory(0); }},
        {"verifyConfiguration(...)", 29, [&] { c.verifyConfiguration(config); }},
        {"errorStatus()", 1, [&] { c.errorStatus(); }},
        {"portStatus()", 1, [&] { c.portStatus(); }},
        {"setOutputs(true, false)", 1, [&] { c.setOutputs(true, false); }},
        {"currentBrightness()", 3, [&] { c.currentBrightness(); }},
        {"setOnMask(0x0005)", 1, [&] { c.setOnMask(0x0005); }},
        {"setErrorIgnore(false)", 1, [&] { c.setErrorIgnore(false); }},
        {"setBuzzer(false)", 1, [&] { c.setBuzzer(false); }},
    };
    std::printf("%-30s %9s %9s %7s %6s\n", "call", "best ms", "median", "floor", "best/floor");
    for (const Case& k : cases) {
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            k.call();
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-30s %9.1f %9.1f %7d %6.2fx\n", k.name, ms.front(), ms[ms.size() / 2], 10 * k.commands,
                    ms.front() / (10.0 * k.commands));
    }
    std::remove(record.c_str());
    return 0;
}
