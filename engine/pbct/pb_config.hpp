#pragma once
#include <cstdint>

namespace zorv::pbct {

enum class EncoderType { ADDER };

// Settings shared by a clause database and an encoder.
class PBConfig {
public:
    EncoderType pb_encoder = EncoderType::ADDER;
    // Every constraint as the compact adder network, whatever its shape: the encoding
    // the selection falls back to, kept reachable for comparisons.
    bool compact_adder = false;

    std::int64_t max_clauses_per_constraint() const { return max_clauses_; }
    void set_max_clauses_per_constraint(std::int64_t limit);

private:
    std::int64_t max_clauses_ = 1000000;
};

}  // namespace zorv::pbct
