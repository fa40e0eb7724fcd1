#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fenc/program.hpp"

namespace zorv::fenc {

// The foralls of a constraint: names and their values, in the given order. Instances are the
// combinations of values, the first forall outermost.
struct forall_set {
    std::vector<introduced_name> names;
    std::vector<std::vector<std::int64_t>> values;

    // Throws limit_error when the count does not fit in 63 bits.
    std::uint64_t instance_count() const;
};

// Reads "Foralls: {'i': range(0, 3), 'j': [0, 2], 'k': (1,)}" (integer literals only).
// Throws read_error with the offset in `text`.
forall_set read_foralls(std::string_view text);

}  // namespace zorv::fenc
