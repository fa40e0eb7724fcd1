#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "common/quoted.hpp"
#include "fenc/catalog.hpp"
#include "fenc/compile.hpp"
#include "fenc/foralls.hpp"
#include "fenc/program.hpp"

namespace zorv::fenc {

enum class constraint_kind : std::uint8_t { hard, soft, target };

// One constraint as read: its text, its foralls and its compiled program, read once.
struct constraint {
    std::string text;
    std::string foralls_text;
    constraint_kind kind = constraint_kind::hard;
    forall_set foralls;
    program code;
    std::int64_t weight = 1;
    bool minimization = false;
    // The catalog it was read against (catalog::stamp); 0 once a model has taken it.
    std::uint64_t catalog_stamp = 0;
};

// Reads a constraint and its foralls text ("Foralls: {...}"; empty for a target). A text
// outside the language throws value_error naming the text and the character position; a
// bound or coefficient literal past 64 bits, limit_error naming the text.
constraint read_constraint(std::string_view text, std::string_view foralls_text, constraint_kind kind,
                           const catalog& variables);

// The foralls of a foralls text, "{'i': range(0, 3)}" of "Foralls: {'i': range(0, 3)}".
std::string_view foralls_of(std::string_view foralls_text);

// The character (not byte) position of byte `offset` of UTF-8 `text`.
std::size_t char_position(std::string_view text, std::size_t offset);

}  // namespace zorv::fenc
