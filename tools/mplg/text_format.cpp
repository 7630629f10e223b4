#include "text_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mplg {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Number(double value) {
    if (!std::isfinite(value)) return "0";
    char text[32];
    for (int precision = 6; precision <= 17; ++precision) {
        std::snprintf(text, sizeof(text), "%.*g", precision, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

std::string ReadableNumber(double value) {
    if (!std::isfinite(value) || value == 0.0) return "0";
    char text[48];
    // Whole numbers (ticks, bytes, counts) stay exact up to where a double still holds every integer.
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0)
        std::snprintf(text, sizeof(text), "%.0f", value);
    else
        std::snprintf(text, sizeof(text), "%.6g", value);
    return text;
}

} // namespace mplg
