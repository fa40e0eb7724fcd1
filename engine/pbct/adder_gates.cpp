#include "pbct/adder_gates.hpp"

namespace zorv::pbct {

SumCarry full_adder(std::int64_t a, std::int64_t b, std::int64_t c, ClauseSink& sink) {
    const std::int64_t s = sink.new_aux();
    const std::int64_t co = sink.new_aux();
    sink.add({-a, -b, co});
    sink.add({-a, -c, co});
    sink.add({-b, -c, co});
    sink.add({-a, -b, -c, s});
    sink.add({-a, co, s});
    sink.add({-b, co, s});
    sink.add({-c, co, s});
    return {s, co};
}

std::int64_t full_adder_without_carry(std::int64_t a, std::int64_t b, std::int64_t c,
                                      ClauseSink& sink) {
    const std::int64_t s = sink.new_aux();
    sink.add({-a, -b});
    sink.add({-a, -c});
    sink.add({-b, -c});
    sink.add({-a, s});
    sink.add({-b, s});
    sink.add({-c, s});
    return s;
}

SumCarry half_adder(std::int64_t a, std::int64_t b, ClauseSink& sink) {
    const std::int64_t s = sink.new_aux();
    const std::int64_t co = sink.new_aux();
    sink.add({-a, -b, co});
    sink.add({-a, co, s});
    sink.add({-b, co, s});
    return {s, co};
}

SumCarry half_adder_plus_one(std::int64_t a, std::int64_t b, ClauseSink& sink) {
    const std::int64_t s = sink.new_aux();
    const std::int64_t co = sink.new_aux();
    sink.add({-a, co});
    sink.add({-b, co});
    sink.add({-a, -b, s});
    sink.add({co, s});
    return {s, co};
}

}  // namespace zorv::pbct
