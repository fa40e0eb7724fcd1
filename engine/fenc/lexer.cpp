#include "fenc/lexer.hpp"

#include <limits>

#include "fenc/read_error.hpp"

namespace zorv::fenc {

namespace {

bool name_start(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80; }
bool digit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::vector<token> tokenize(std::string_view text) {
    std::vector<token> out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        }
        token t;
        t.offset = i;
        if (name_start(c)) {
            std::size_t j = i + 1;
            while (j < text.size() && (name_start(static_cast<unsigned char>(text[j])) ||
                                       digit(static_cast<unsigned char>(text[j])))) {
                ++j;
            }
            t.kind = token_kind::name;
            t.text = text.substr(i, j - i);
            i = j;
        } else if (digit(c)) {
            std::size_t j = i;
            constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
            std::uint64_t value = 0;
            while (j < text.size() && digit(static_cast<unsigned char>(text[j]))) {
                const auto d = static_cast<std::uint64_t>(text[j] - '0');
                // Checked before it multiplies; past 64 bits the digits are read on to the number's end.
                value = value <= (max - d) / 10 ? value * 10 + d : max;
                ++j;
            }
            if (j < text.size() && (name_start(static_cast<unsigned char>(text[j])) || text[j] == '.')) {
                throw read_error("not an integer", i);
            }
            if (text[i] == '0' && j - i > 1) throw read_error("integer with a leading zero", i);
            t.kind = token_kind::number;
            t.text = text.substr(i, j - i);
            t.value = value;
            i = j;
        } else if (c == '\'' || c == '"') {
            std::size_t j = i + 1;
            while (j < text.size() && text[j] != text[i]) {
                if (text[j] == '\\' || text[j] == '\n') throw read_error("unsupported string", i);
                ++j;
            }
            if (j == text.size()) throw read_error("unterminated string", i);
            t.kind = token_kind::string;
            t.text = text.substr(i + 1, j - i - 1);
            i = j + 1;
        } else if (text.substr(i, 2) == "**") {
            t.kind = token_kind::op;
            t.text = text.substr(i, 2);
            i += 2;
        } else if (std::string_view("()[]{},.:*+-~").find(static_cast<char>(c)) != std::string_view::npos) {
            t.kind = token_kind::op;
            t.text = text.substr(i, 1);
            ++i;
        } else {
            throw read_error("unexpected character", i);
        }
        out.push_back(t);
    }
    token end;
    end.offset = text.size();
    out.push_back(end);
    return out;
}

}  // namespace zorv::fenc
