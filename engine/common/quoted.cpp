#include "common/quoted.hpp"

namespace zorv {

std::size_t character_cut(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t cut = limit;
    // Back over continuation bytes (10xxxxxx) to the first byte of the character cut.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

std::string quoted(std::string_view text) {
    constexpr std::size_t limit = 200;
    std::string out = "'";
    for (const char c : text.substr(0, character_cut(text, limit))) {
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
