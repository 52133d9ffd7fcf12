// 1000 (or argv[2]) setBrightness calls through liblumitrax on one target, the C++ side of
// bench/python_overhead.sh. Prints the total and the time per call.

#include <lumitrax/controller.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TARGET [CALLS]\n", argv[0]);
        return 2;
    }
    const int calls = argc > 2 ? std::atoi(argv[2]) : 1000;
    try {
        lumitrax::Controller c{argv[1]};
        for (int i = 0; i < 10; ++i) {  // warm-up: the first answers and allocations
            c.setBrightness(1 + i % lumitrax::kChannels, i);
        }
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) {
            c.setBrightness(1 + i % lumitrax::kChannels, i % (lumitrax::kMaxBrightness + 1));
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("C++     %d set_brightness: %.3f s, %.1f us per call\n", calls, s, s / calls * 1e6);
    } catch (const lumitrax::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
