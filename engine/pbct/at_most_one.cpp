#include "pbct/at_most_one.hpp"

namespace zorv::pbct {

Bit at_most_one(const Column& top, bool need_or, ClauseSink& sink) {
    const std::size_t m = top.size();
    if (m <= 1) {
        return m == 0 ? Bit{} : Bit{top.front()};
    }
    const std::size_t pairwise = m * (m - 1) / 2 + (need_or ? m : 0);
    const std::size_t ladder = 3 * (m - 1) - (need_or ? 0 : 2);
    if (pairwise <= ladder) {
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
    // Ladder: seen_i is true once any of the first i bits is.
    std::int64_t seen = top[0];
    for (std::size_t i = 1; i < m; ++i) {
        sink.add({-top[i], -seen});
        if (i + 1 < m || need_or) {
            const std::int64_t next = sink.new_aux();
            sink.add({-top[i], next});
            sink.add({-seen, next});
            seen = next;
        }
    }
    return seen;
}

}  // namespace zorv::pbct
