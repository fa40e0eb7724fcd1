#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace zorv {

// `text` in quotes for a message: cut after 200 bytes, a NUL written as \x00.
std::string quoted(std::string_view text);

// The length of the longest start of UTF-8 `text` that takes at most `limit` bytes and ends
// between characters: a message cut inside one could not be read back as text.
std::size_t character_cut(std::string_view text, std::size_t limit);

}  // namespace zorv
