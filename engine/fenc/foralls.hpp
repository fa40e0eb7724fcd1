#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fenc/program.hpp"
#include "inst/forall_values.hpp"
#include "pbct/int128.hpp"

namespace zorv::fenc {

// The foralls of a constraint: names and their values, in the given order. Instances are the
// combinations of values, the first forall outermost.
struct forall_set {
    std::vector<introduced_name> names;
    std::vector<inst::forall_values> values;

    // The count of instances, saturating at the largest 64-bit value.
    std::uint64_t combinations() const;
    // The same, once read_constraint has taken the foralls: throws value_error past max_instances.
    std::uint64_t instance_count() const;
};

// One constraint has at most this many instances: more could not be held or numbered. It is
// also the cap on the work of a constraint, its instances times the values its comprehension
// loops take, and on the values of one range in a text.
inline constexpr std::uint64_t max_instances = std::uint64_t{1} << 31;

// How many values range(start, stop, step) takes (the largest uint64 for more); step is not 0.
std::uint64_t range_length(std::int64_t start, pbct::i128 stop, std::int64_t step);

// Reads "Foralls: {'i': range(0, 3), 'j': [0, 2], 'k': (1,)}" (integer literals only).
// Throws read_error with the offset in `text`; the count of instances is left to the caller.
forall_set read_foralls(std::string_view text);

}  // namespace zorv::fenc
