#include "pbct/sorting_network.hpp"

#include <algorithm>
#include <map>
#include <tuple>

#include "pbct/binary_merge.hpp"
#include "pbct/count.hpp"

namespace zorv::pbct {

namespace {

// Orders two outputs: max = a or b, then min = a and b when it is needed.
void comparator(std::int64_t a, std::int64_t b, bool need_min, bool up, bool down, Lits& out,
                ClauseSink& sink) {
    const std::int64_t high = sink.new_aux();
    if (up) {
        sink.add({-a, high});
        sink.add({-b, high});
    }
    if (down) sink.add({-high, a, b});
    out.push_back(high);
    if (!need_min) return;
    const std::int64_t low = sink.new_aux();
    if (up) sink.add({-a, -b, low});
    if (down) {
        sink.add({-low, a});
        sink.add({-low, b});
    }
    out.push_back(low);
}

Lits every_second(const Lits& x, std::size_t from, std::size_t len) {
    Lits out;
    for (std::size_t i = from; i < std::min(x.size(), len); i += 2) out.push_back(x[i]);
    return out;
}

// The clauses and outputs of network_merge for inputs of these sizes, without building it.
struct Shape {
    std::size_t clauses = 0;
    std::size_t outputs = 0;
};

class Sizes {
public:
    Sizes(bool up, bool down) : up_(up), down_(down) {}

    Shape merge(std::size_t a, std::size_t b, std::size_t len) {
        a = std::min(a, len);
        b = std::min(b, len);
        if (a == 0 || b == 0) return {0, a + b};
        if (a == 1 && b == 1) return {comparator(len >= 2), std::min<std::size_t>(2, len)};
        const auto key = std::make_tuple(a, b, len);
        if (const auto it = memo_.find(key); it != memo_.end()) return it->second;
        const Shape odd = merge((a + 1) / 2, (b + 1) / 2, len / 2 + 1);
        const Shape even = merge(a / 2, b / 2, len / 2);
        Shape out{odd.clauses + even.clauses, 1};
        std::size_t i = 0;
        for (; out.outputs < len && i < even.outputs && i + 1 < odd.outputs; ++i) {
            const bool need_min = out.outputs + 2 <= len;
            out.clauses += comparator(need_min);
            out.outputs += need_min ? 2 : 1;
        }
        if (out.outputs < len && (i < even.outputs || i + 1 < odd.outputs)) ++out.outputs;
        out.outputs = std::min(out.outputs, len);
        memo_[key] = out;
        return out;
    }

    Shape count(std::size_t n, std::size_t len) {
        if (n <= 1) return {0, n};
        const auto key = std::make_tuple(n, std::size_t{0}, len);  // b = 0 is never a merge's key
        if (const auto it = memo_.find(key); it != memo_.end()) return it->second;
        const Shape a = count(n / 2, len);
        const Shape b = count(n - n / 2, len);
        const Shape m = merge(a.outputs, b.outputs, std::min(len, n));
        const Shape out{a.clauses + b.clauses + m.clauses, m.outputs};
        memo_[key] = out;
        return out;
    }

private:
    std::size_t comparator(bool need_min) const {
        return (up_ ? 2 : 0) + (down_ ? 1 : 0) + (need_min ? (up_ ? 1 : 0) + (down_ ? 2 : 0) : 0);
    }

    bool up_;
    bool down_;
    std::map<std::tuple<std::size_t, std::size_t, std::size_t>, Shape> memo_;
};

}  // namespace

std::size_t network_merge_size(std::size_t a, std::size_t b, std::size_t len) {
    return Sizes(true, false).merge(a, b, len).clauses;
}

std::size_t network_count_size(std::size_t n, std::size_t len) { return Sizes(true, false).count(n, len).clauses; }

std::size_t sorting_network_size(const Count& c) {
    Sizes sizes(c.upper(), c.lower());
    return sizes.count(c.n(), c.cut()).clauses + (c.upper() ? 1 : 0) + (c.lower() ? 1 : 0);
}

Lits network_merge(const Lits& a, const Lits& b, std::size_t len, bool up, bool down, ClauseSink& sink) {
    if (a.empty() || b.empty()) {
        Lits rest = a.empty() ? b : a;
        rest.resize(std::min(rest.size(), len));
        return rest;
    }
    Lits out;
    if (a.size() == 1 && b.size() == 1) {
        comparator(a[0], b[0], len >= 2, up, down, out, sink);
        return out;
    }
    // The odd places of both, merged, hold the larger half of the ones; the even places
    // the smaller; one more layer of comparators interleaves them.
    const Lits odd = network_merge(every_second(a, 0, len), every_second(b, 0, len), len / 2 + 1, up, down, sink);
    const Lits even = network_merge(every_second(a, 1, len), every_second(b, 1, len), len / 2, up, down, sink);
    out.push_back(odd[0]);
    std::size_t i = 0;
    for (; out.size() < len && i < even.size() && i + 1 < odd.size(); ++i) {
        comparator(even[i], odd[i + 1], out.size() + 2 <= len, up, down, out, sink);
    }
    if (out.size() < len) {
        if (i < even.size()) {
            out.push_back(even[i]);
        } else if (i + 1 < odd.size()) {
            out.push_back(odd[i + 1]);
        }
    }
    out.resize(std::min(out.size(), len));
    return out;
}

Lits network_count(std::span<const std::int64_t> lits, std::size_t len, bool up, bool down, ClauseSink& sink) {
    if (lits.size() <= 1) return Lits(lits.begin(), lits.end());
    const std::size_t half = lits.size() / 2;
    const Lits a = network_count(lits.first(half), len, up, down, sink);
    const Lits b = network_count(lits.subspan(half), len, up, down, sink);
    return network_merge(a, b, std::min(len, lits.size()), up, down, sink);
}

void encode_sorting_network(const Range& range, ClauseSink& sink) {
    if (!unit_coefficients(range)) {
        encode_network_merge(range, sink);
        return;
    }
    const Count c = count_of(range);
    const Lits out = network_count(c.lits, c.cut(), c.upper(), c.lower(), sink);
    if (c.upper()) sink.add({-out[c.hi]});
    if (c.lower()) sink.add({out[c.lo - 1]});
}

}  // namespace zorv::pbct
