// Helper for the interoperability tests with other hex tools:
//   hex_peer_tool random SIZE SEED OUT.bin   a reproducible random binary
//   hex_peer_tool write IN.bin OUT.hex       our Intel HEX of a binary image
//   hex_peer_tool read IN.hex SIZE OUT.bin   our reading of a hex file
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/FileAccess.h"
#include "image/IntelHex.h"

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;

int Fail(const std::string& what) {
    std::fprintf(stderr, "hex_peer_tool: %s\n", what.c_str());
    return kFailed;
}

bool Save(const std::string& path, const std::string& bytes) {
    std::string error;
    if (!WriteFileAtomically(path, bytes, error)) {
        Fail(path + ": " + error);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "random") {
        std::mt19937 random(static_cast<unsigned>(std::stoul(args[2])));
        std::string bytes(std::stoul(args[1]), '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        return Save(args[3], bytes) ? 0 : kFailed;
    }
    if (args.size() == 3 && args[0] == "write") {
        std::string bytes, error;
        if (!ReadWholeFile(args[1], bytes, error)) {
            return Fail(args[1] + ": " + error);
        }
        return Save(args[2], FormatHexImage(std::vector<uint8_t>(bytes.begin(), bytes.end())))
                   ? 0
                   : kFailed;
    }
    if (args.size() == 4 && args[0] == "read") {
        std::string text, error;
        if (!ReadWholeFile(args[1], text, error)) {
            return Fail(args[1] + ": " + error);
        }
        std::vector<uint8_t> image;
        if (ReadHexImage(text, HexReadMode::Program, std::stoi(args[2]), image) !=
            HexReadStatus::Ok) {
            return Fail(args[1] + ": the file did not read cleanly");
        }
        return Save(args[3], std::string(image.begin(), image.end())) ? 0 : kFailed;
    }
    std::fprintf(stderr, "usage: hex_peer_tool random|write|read ...\n");
    return kUsage;
}
