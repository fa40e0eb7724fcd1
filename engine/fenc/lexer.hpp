#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

namespace zorv::fenc {

enum class token_kind : std::uint8_t { name, number, string, op, end };

// One token of a constraint or foralls text. `offset` is in bytes from the text's start.
// A name is any run of letters, digits and underscores not starting with a digit, where every
// byte of a multi-byte character counts as a letter: the name rule is applied to names later.
struct token {
    token_kind kind = token_kind::end;
    std::string_view text;
    std::size_t offset = 0;
    std::uint64_t value = 0;  // a number's magnitude; the largest uint64 for any past 64 bits
};

// Splits `text` into tokens, the last one of kind end. Throws read_error on a character that
// no text of the language holds; a number is judged by its value where it stands.
std::vector<token> tokenize(std::string_view text);

}  // namespace zorv::fenc
