#include "fenc/foralls.hpp"

#include <limits>
#include <unordered_set>

#include "common/errors.hpp"
#include "fenc/read_error.hpp"
#include "fenc/syntax.hpp"

namespace zorv::fenc {

using pbct::i128;

namespace {

constexpr i128 int64_min = std::numeric_limits<std::int64_t>::min();
constexpr i128 int64_max = std::numeric_limits<std::int64_t>::max();

// An integer literal, a number or minus a number (the least 64-bit integer is written so), that
// lies in low..high.
i128 literal_value(const syntax_tree& tree, std::uint32_t id, i128 low = int64_min, i128 high = int64_max) {
    const syntax_node& n = tree.nodes[id];
    const bool negated =
        n.kind == syntax_kind::unary && n.op == '-' && tree.nodes[n.kids[0]].kind == syntax_kind::number;
    const syntax_node& number = negated ? tree.nodes[n.kids[0]] : n;
    if (number.kind != syntax_kind::number) throw read_error("expected an integer", n.offset);
    const i128 value = negated ? -i128{number.value} : i128{number.value};
    if (value < low || value > high) throw read_error("integer too large", number.offset);
    return value;
}

// A range's stop is never taken: one past the integers of 64 bits lets a range reach either end.
i128 stop_value(const syntax_tree& tree, std::uint32_t id) {
    return literal_value(tree, id, int64_min - 1, int64_max + 1);
}

inst::forall_values values_of(const syntax_tree& tree, std::uint32_t id) {
    const syntax_node& n = tree.nodes[id];
    if (n.kind == syntax_kind::list || n.kind == syntax_kind::tuple) {
        std::vector<std::int64_t> out;
        for (auto kid : n.kids) out.push_back(static_cast<std::int64_t>(literal_value(tree, kid)));
        return inst::forall_values::listed(std::move(out));
    }
    const bool is_range = n.kind == syntax_kind::call && tree.nodes[n.kids[0]].kind == syntax_kind::name &&
                          tree.nodes[n.kids[0]].text == "range";
    if (!is_range || n.kids.size() < 2 || n.kids.size() > 4) {
        throw read_error("expected range(...), a list or a tuple of integers", n.offset);
    }
    std::int64_t start = 0, step = 1;
    i128 stop = 0;
    if (n.kids.size() == 2) {
        stop = stop_value(tree, n.kids[1]);
    } else {
        start = static_cast<std::int64_t>(literal_value(tree, n.kids[1]));
        stop = stop_value(tree, n.kids[2]);
        if (n.kids.size() == 4) step = static_cast<std::int64_t>(literal_value(tree, n.kids[3]));
    }
    if (step == 0) throw read_error("range step must not be zero", n.offset);
    // Kept as a run, never expanded: its length alone decides whether it is too long.
    const std::uint64_t length = range_length(start, stop, step);
    if (length > max_instances) {
        throw read_error("range has more than " + std::to_string(max_instances) + " values", n.offset);
    }
    return inst::forall_values::arithmetic(start, step, static_cast<std::size_t>(length));
}

}  // namespace

std::uint64_t range_length(std::int64_t start, i128 stop, std::int64_t step) {
    // In 128 bits: the distance between two 64-bit values may not fit in 64.
    if (step > 0 ? start >= stop : start <= stop) return 0;
    const i128 distance = step > 0 ? stop - start : start - stop;
    const i128 stride = step > 0 ? i128{step} : -i128{step};
    const i128 length = (distance - 1) / stride + 1;
    return length > std::numeric_limits<std::uint64_t>::max() ? std::numeric_limits<std::uint64_t>::max()
                                                             : static_cast<std::uint64_t>(length);
}

std::uint64_t forall_set::combinations() const {
    std::uint64_t count = 1;
    for (const auto& v : values) {
        if (__builtin_mul_overflow(count, v.size(), &count)) return std::numeric_limits<std::uint64_t>::max();
    }
    return count;
}

std::uint64_t forall_set::instance_count() const {
    const std::uint64_t count = combinations();
    if (count > max_instances) {
        throw value_error("the foralls give more than " + std::to_string(max_instances) +
                          " instances of one constraint");
    }
    return count;
}

forall_set read_foralls(std::string_view text) {
    constexpr std::string_view head = "Foralls: ";
    if (text.substr(0, head.size()) != head) throw read_error("expected 'Foralls: '", 0);
    syntax_tree tree;
    try {
        tree = parse_syntax(text.substr(head.size()));
    } catch (const read_error& e) {
        throw read_error(e.what(), e.offset + head.size());
    }
    const syntax_node& root = tree.nodes[tree.root];
    if (root.kind != syntax_kind::dict) throw read_error("expected a dict", head.size() + root.offset);
    forall_set out;
    std::unordered_set<std::string_view> seen;
    try {
        for (std::size_t k = 0; k < root.kids.size(); k += 2) {
            const syntax_node& key = tree.nodes[root.kids[k]];
            if (key.kind != syntax_kind::string) throw read_error("expected a quoted name", key.offset);
            if (!seen.insert(key.text).second) throw read_error("forall named twice", key.offset);
            out.names.push_back({std::string(key.text), key.offset + 1});
            out.values.push_back(values_of(tree, root.kids[k + 1]));
        }
    } catch (const read_error& e) {
        throw read_error(e.what(), e.offset + head.size());
    }
    for (auto& n : out.names) n.offset += head.size();
    return out;
}

}  // namespace zorv::fenc
