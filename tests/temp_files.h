#pragma once
// A scratch folder removed with everything in it, and the lines of a file (a simulator's
// transcript, a record): what the API tests read back from the disk.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/lumitrax-test-XXXXXX";
        if (const char* made = mkdtemp(name)) {
            path_ = made;
        }
    }
    ~TempDir() {
        if (!path_.empty()) {
            std::filesystem::remove_all(path_);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The lines of a file, without their line feeds; none when it cannot be read.
inline std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}
