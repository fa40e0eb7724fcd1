#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zorv::inst {

// One index text of a model-variable call in affine form: factor * forall + offset, with the
// forall empty for a constant index.
struct affine_index {
    std::string_view forall;
    std::int64_t factor = 0;
    std::int64_t offset = 0;
};

// A literal text of a clause template, as the container writes it: a quoted auxiliary name
// ('_pbct_aux_3', '~_bxpr_aux_0') or a call of a model variable (-x(i,2 * (j + 1))).
struct literal_text {
    bool auxiliary = false;
    bool negated = false;
    bool pseudo_boolean = false;  // of an auxiliary: _pbct_aux rather than _bxpr_aux
    std::int64_t counter = 0;     // of an auxiliary
    std::string_view name;        // of a call
    std::vector<affine_index> indexes;
};

// Reads `text` in the host language's own terms, for the common forms only: nullopt for any
// text that the host might read differently or that needs more than this reader knows (index
// arithmetic beyond one forall, numbers past 64 bits, other spellings of numbers, keywords,
// non-ASCII names, trailing commas). The caller then reads it the host's way. Names are views
// into `text`.
std::optional<literal_text> read_literal(std::string_view text);

// The variable's name of a call with constant indexes written the way a variable element writes
// itself, x(0,12): a name, then plain decimal integers joined by "," (no blanks, signs or leading
// zeros); nullopt for any other text.
std::optional<std::string_view> element_call_name(std::string_view text);

}  // namespace zorv::inst
