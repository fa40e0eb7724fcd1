#include "pbct/at_most_one.hpp"

#include <algorithm>

namespace zorv::pbct {

namespace {

// Clauses of the chain below for m literals.
std::size_t chain_clauses(std::size_t m, bool need_or) {
    std::size_t n = 0;
    for (std::size_t i = 1; i < m; i += 2) {
        const std::size_t k = std::min<std::size_t>(2, m - i);
        n += k * (k + 1) / 2;
        if (i + k < m || need_or) {
            n += k + 1;
        }
    }
    return n;
}

}  // namespace

Bit at_most_one(const Column& top, bool need_or, ClauseSink& sink) {
    const std::size_t m = top.size();
    if (m <= 1) {
        return m == 0 ? Bit{} : Bit{top.front()};
    }
    const std::size_t pairwise = m * (m - 1) / 2 + (need_or ? m : 0);
    if (pairwise <= chain_clauses(m, need_or)) {
        for (std::size_t x = 0; x < m; ++x) {
            for (std::size_t y = x + 1; y < m; ++y) {
                sink.add({-top[x], -top[y]});
            }
        }
        if (!need_or) {
            return Bit{};
        }
        const std::int64_t any = sink.new_aux();
        for (const std::int64_t t : top) {
            sink.add({-t, any});
        }
        return any;
    }
    // A chain of groups of three, pairwise inside each (Heule's encoding): every group after
    // the first is led by a literal forced up by the groups before it. Steps of two literals
    // instead of a ladder's one: on pigeonhole rows the ladder took CaDiCaL up to 30 times
    // the conflicts.
    std::int64_t seen = top[0];
    for (std::size_t i = 1; i < m; i += 2) {
        const std::size_t end = std::min(i + 2, m);
        for (std::size_t j = i; j < end; ++j) {
            sink.add({-seen, -top[j]});
            for (std::size_t k = j + 1; k < end; ++k) {
                sink.add({-top[j], -top[k]});
            }
        }
        if (end < m || need_or) {
            const std::int64_t next = sink.new_aux();
            sink.add({-seen, next});
            for (std::size_t j = i; j < end; ++j) {
                sink.add({-top[j], next});
            }
            seen = next;
        }
    }
    return need_or ? Bit{seen} : Bit{};
}

}  // namespace zorv::pbct
