#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "pbct/adder_gates.hpp"
#include "pbct/clause_sink.hpp"
#include "pbct/shared_sums.hpp"

namespace zorv::pbct {

// The literals worth 2^j, for one digit position j.
using Column = std::deque<std::int64_t>;
// One bit of a sum; empty: the constant 0.
using Bit = std::optional<std::int64_t>;
using HalfAdder = SumCarry (*)(std::int64_t, std::int64_t, ClauseSink&);

// Columns 0 .. width-1 holding each item once per digit of its mask.
std::vector<Column> fill_columns(const std::vector<Item>& items, int width);

// Columns 0 .. top-1 down to one bit each, oldest bits first (Wallace order); their
// carries join the next column, so the top column receives everything left over.
std::vector<Bit> reduce_below_top(std::vector<Column>& columns, HalfAdder half, ClauseSink& sink);

}  // namespace zorv::pbct
