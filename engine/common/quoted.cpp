#include "common/quoted.hpp"

namespace zorv {

std::string quoted(std::string_view text) {
    constexpr std::size_t limit = 200;
    std::string out = "'";
    for (const char c : text.substr(0, limit)) {
        // A message ends at its first NUL: the position after it would be lost.
        if (c == '\0') {
            out += "\\x00";
        } else {
            out += c;
        }
    }
    out += text.size() > limit ? "...'" : "'";
    return out;
}

}  // namespace zorv
