#pragma once
#include <string>
#include <string_view>

namespace zorv {

// `text` in quotes for a message: cut after 200 bytes, a NUL written as \x00.
std::string quoted(std::string_view text);

}  // namespace zorv
