#include "pbct/columns.hpp"

namespace zorv::pbct {

namespace {

std::int64_t take(Column& col) {
    const std::int64_t lit = col.front();
    col.pop_front();
    return lit;
}

}  // namespace

std::vector<Column> fill_columns(const std::vector<Item>& items, int width) {
    std::vector<Column> columns(static_cast<std::size_t>(width));
    for (const Item& it : items) {
        for (int j = 0; j < width; ++j) {
            if (test_bit(it.mask, j)) {
                columns[static_cast<std::size_t>(j)].push_back(it.lit);
            }
        }
    }
    return columns;
}

std::vector<Bit> reduce_below_top(std::vector<Column>& columns, HalfAdder half, ClauseSink& sink) {
    std::vector<Bit> bits;
    for (std::size_t j = 0; j + 1 < columns.size(); ++j) {
        Column& here = columns[j];
        while (here.size() >= 2) {
            const std::int64_t a = take(here), b = take(here);
            const SumCarry sc = here.empty() ? half(a, b, sink) : full_adder(a, b, take(here), sink);
            here.push_back(sc.sum);
            columns[j + 1].push_back(sc.carry);
        }
        bits.push_back(here.empty() ? Bit{} : Bit{here.front()});
    }
    return bits;
}

}  // namespace zorv::pbct
