#pragma once
#include <cstdint>

namespace zorv::pbct {

enum class EncoderType { ADDER };

// Settings shared by a clause database and an encoder.
class PBConfig {
public:
    EncoderType pb_encoder = EncoderType::ADDER;
    // For tests and comparisons: every constraint as the compact adder network (the
    // encoding the selection falls back to), or every one-sided one as a binary merge, a
    // generalised totalizer, a decision diagram or sorting networks (with cardinality
    // constraints of both sides), whatever its shape. Selection as usual otherwise.
    enum class Forced { none, compact_adder, binary_merge, generalized_totalizer, decision_diagram, sorting_network };
    Forced forced = Forced::none;

    std::int64_t max_clauses_per_constraint() const { return max_clauses_; }
    void set_max_clauses_per_constraint(std::int64_t limit);

private:
    std::int64_t max_clauses_ = 1000000;
};

}  // namespace zorv::pbct
