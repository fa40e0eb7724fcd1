#pragma once
#include <string_view>

#include "fenc/catalog.hpp"
#include "fenc/foralls.hpp"
#include "fenc/program.hpp"

namespace zorv::fenc {

enum class text_role : std::uint8_t {
    boolean,  // a hard constraint: a Boolean formula, or a bare variable reference
    term,     // a soft constraint or a target: a pseudo-Boolean term, or a bare variable reference
};

// Reads `text` in the language the expressions write, with the foralls' names bound, and
// compiles it. Throws read_error (offset into `text`) for a text outside the language: an
// unknown name, a variable called with the wrong number of indexes, a Boolean where a term
// belongs, an integer literal past 64 bits and so on; limit_error for such a literal as a
// comparison's bound or a term's coefficient.
program compile_text(std::string_view text, text_role role, const catalog& variables, const forall_set& foralls);

}  // namespace zorv::fenc
