#include "daemon/TerminalQRCode.h"

#include <qrencode.h>

#include <memory>
#include <stdexcept>

namespace kx::TerminalQRCode {

namespace {
constexpr int quietZone = 2;
constexpr int automaticVersion = 0;
constexpr const char* darkOnLight = "\x1b[30;47m";
constexpr const char* plain = "\x1b[0m";

struct Code {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code;
    int width() const { return code->width; }
    bool dark(int x, int y) const {
        if (x < 0 || y < 0 || x >= code->width || y >= code->width) return false;
        return code->data[y * code->width + x] & 1;
    }
};

const char* halfBlock(bool top, bool bottom) {
    if (top && bottom) return "\u2588";
    if (top) return "\u2580";
    if (bottom) return "\u2584";
    return " ";
}
}  // namespace

std::string render(const std::string& text, bool colours) {
    Code code{{QRcode_encodeString(text.c_str(), automaticVersion, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free}};
    if (!code.code) throw std::runtime_error("the text cannot be drawn as a QR code");
    std::string out;
    for (int y = -quietZone; y < code.width() + quietZone; y += 2) {
        if (colours) out += darkOnLight;
        for (int x = -quietZone; x < code.width() + quietZone; ++x)
            out += halfBlock(code.dark(x, y), code.dark(x, y + 1));
        if (colours) out += plain;
        out += '\n';
    }
    return out;
}

}  // namespace kx::TerminalQRCode
