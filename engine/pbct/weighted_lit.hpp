#pragma once
#include <cstdint>
#include <string>

namespace zorv::pbct {

// coefficient * literal; a negative literal stands for the complemented variable.
struct WeightedLit {
    std::int64_t literal;
    std::int64_t coefficient;

    WeightedLit(std::int64_t literal, std::int64_t coefficient);
    std::string repr() const;
};

}  // namespace zorv::pbct
