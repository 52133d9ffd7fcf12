// The smallest program on the Controller API: open a controller, show who it is, set channel 3.
//   set_channel /dev/ttyUSB0 [BRIGHTNESS]
#include <lumitrax/controller.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [BRIGHTNESS]\n", argv[0]);
        return 2;
    }
    try {
        lumitrax::Controller c{argv[1]};  // throws lumitrax::Error with the reason
        const lumitrax::Identity id = c.identity();
        std::printf("%s S/N %s, firmware %s, module ID %d\n", id.model.c_str(), id.serialNumber.c_str(),
                    id.firmware.c_str(), id.moduleId);
        c.setBrightness(3, argc > 2 ? std::atoi(argv[2]) : 512);  // channel 1..16, 0..1024
    } catch (const lumitrax::Error& e) {
        std::fprintf(stderr, "%s (%s)\n", e.what(), lumitrax::ErrorKindName(e.kind()));
        return 1;
    }
    return 0;
}
