#include "bxpr/arena.hpp"

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace zorv::bxpr {

namespace {

constexpr std::uint32_t max_u32 = std::numeric_limits<std::uint32_t>::max();

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

}  // namespace

Arena::Arena() {
    nodes_.push_back({Kind::zero, 0, 0});
    nodes_.push_back({Kind::one, 0, 0});
    neg_ = {one, zero};
}

NodeId Arena::next_id() const {
    if (nodes_.size() >= max_u32 - 1) throw limit_error("too many nodes in one Boolean context");
    return static_cast<NodeId>(nodes_.size());
}

NodeId Arena::push(Kind kind, std::span<const NodeId> args) {
    const NodeId id = next_id();
    if (args_.size() + args.size() >= max_u32) {
        throw limit_error("too many operands in one Boolean context");
    }
    nodes_.push_back({kind, static_cast<std::uint32_t>(args_.size()),
                      static_cast<std::uint32_t>(args.size())});
    args_.insert(args_.end(), args.begin(), args.end());
    neg_.push_back(no_node);
    return id;
}

NodeId Arena::find_variable(std::string_view name) const {
    return by_name_.find(std::hash<std::string_view>{}(name),
                         [&](NodeId v) { return this->name(v) == name; });
}

NodeId Arena::variable(std::string_view name) {
    return variable(name, std::hash<std::string_view>{}(name));
}

NodeId Arena::variable(std::string_view name, std::uint64_t hash) {
    return by_name_.find_or_insert(
        hash, [&](NodeId c) { return this->name(c) == name; },
        [&] {
            if (names_.size() + name.size() >= max_u32) {
                throw limit_error("variable names of one Boolean context exceed 4 GiB");
            }
            const NodeId v = next_id();
            nodes_.push_back({Kind::variable, static_cast<std::uint32_t>(names_.size()),
                              static_cast<std::uint32_t>(name.size())});
            neg_.push_back(no_node);
            names_.append(name);
            ++variables_;
            return v;
        });
}

void Arena::make_variables(std::string_view prefix, std::size_t first, std::size_t count,
                           std::vector<NodeId>& out) {
    constexpr std::size_t ahead = 16;
    std::string text;
    std::vector<std::size_t> ends;
    std::vector<std::uint64_t> hashes;
    ends.reserve(count);
    hashes.reserve(count);
    by_name_.reserve(count);
    interrupt_gate gate;
    for (std::size_t k = first; k < first + count; ++k) {
        gate.tick();
        const std::size_t begin = text.size();
        text.append(prefix);
        text += '_';
        text += std::to_string(k);
        ends.push_back(text.size());
        hashes.push_back(std::hash<std::string_view>{}(std::string_view(text).substr(begin)));
        if (k - first < ahead) by_name_.prefetch(hashes.back());
    }
    out.reserve(out.size() + count);
    for (std::size_t i = 0, begin = 0; i < count; begin = ends[i++]) {
        gate.tick();
        if (i + ahead < count) by_name_.prefetch(hashes[i + ahead]);
        out.push_back(variable(std::string_view(text).substr(begin, ends[i] - begin), hashes[i]));
    }
}

std::size_t Arena::auxiliaries_taken(std::string_view prefix) const {
    const auto it = auxiliaries_taken_.find(prefix);
    return it == auxiliaries_taken_.end() ? 0 : it->second;
}

void Arena::set_auxiliaries_taken(std::string_view prefix, std::size_t count) {
    const auto it = auxiliaries_taken_.find(prefix);
    if (it == auxiliaries_taken_.end()) {
        auxiliaries_taken_.emplace(std::string(prefix), count);
    } else {
        it->second = count;
    }
}

std::string_view Arena::name(NodeId x) const {
    if (nodes_[x].kind == Kind::complement) x = args_[nodes_[x].first];
    const Node& n = nodes_[x];
    return {names_.data() + n.first, n.count};
}

void Arena::reserve(std::size_t nodes, std::size_t operands, std::size_t operators) {
    nodes_.reserve(nodes_.size() + nodes);
    neg_.reserve(neg_.size() + nodes);
    args_.reserve(args_.size() + operands);
    by_op_.reserve(operators);
}

NodeId Arena::negate(NodeId x) {
    if (neg_[x] != no_node) return neg_[x];
    const Kind k = nodes_[x].kind;
    // Constants, complements and negations are created already linked.
    const NodeId n = push(k == Kind::variable ? Kind::complement : Kind::not_, {&x, 1});
    neg_[x] = n;
    neg_[n] = x;
    return n;
}

std::uint64_t Arena::hash_op(Kind kind, std::span<const NodeId> args) {
    std::uint64_t h = static_cast<std::uint64_t>(kind) + 0x9E3779B97F4A7C15ull * (args.size() + 1);
    for (NodeId a : args) h = (h ^ a) * 0x100000001b3ull + (h >> 29);
    return mix(h);
}

bool Arena::same_op(NodeId x, Kind kind, std::span<const NodeId> args) const {
    const Node& n = nodes_[x];
    return n.kind == kind && n.count == args.size() &&
           std::equal(args.begin(), args.end(), args_.begin() + n.first);
}

NodeId Arena::make(Kind kind, std::span<const NodeId> args) {
    // Operands that live in args_ itself would dangle when it grows.
    std::vector<NodeId> copy;
    const std::less<const NodeId*> before;
    if (!args.empty() && !before(args.data(), args_.data()) && before(args.data(), args_.data() + args_.size())) {
        copy.assign(args.begin(), args.end());
        args = copy;
    }
    return by_op_.find_or_insert(
        hash_op(kind, args), [&](NodeId c) { return same_op(c, kind, args); },
        [&] { return push(kind, args); });
}

void Arena::make_many(Kind kind, std::span<const NodeId> flat, std::span<const std::uint32_t> ends,
                      std::vector<NodeId>& out) {
    constexpr std::size_t ahead = 16;
    by_op_.reserve(ends.size());
    std::vector<std::uint64_t> hashes(ends.size());
    for (std::size_t i = 0, begin = 0; i < ends.size(); begin = ends[i++]) {
        hashes[i] = hash_op(kind, flat.subspan(begin, ends[i] - begin));
        if (i < ahead) by_op_.prefetch(hashes[i]);
    }
    for (std::size_t i = 0, begin = 0; i < ends.size(); begin = ends[i++]) {
        if (i + ahead < ends.size()) by_op_.prefetch(hashes[i + ahead]);
        const auto args = flat.subspan(begin, ends[i] - begin);
        out.push_back(by_op_.find_or_insert(
            hashes[i], [&](NodeId c) { return same_op(c, kind, args); }, [&] { return push(kind, args); }));
    }
}

void Arena::mark_reachable(NodeId start, std::vector<std::uint8_t>& marks) const {
    if (marks[start]) return;
    marks[start] = 1;
    std::vector<NodeId> stack{start};
    while (!stack.empty()) {
        const NodeId x = stack.back();
        stack.pop_back();
        for (const NodeId c : args(x)) {
            if (!marks[c]) {
                marks[c] = 1;
                stack.push_back(c);
            }
        }
    }
}

NodeId Arena::import_ground(const Arena& from, NodeId root) {
    // Operands precede their parents, so one ascending pass over the marked nodes
    // rebuilds every operand before it is needed.
    std::vector<std::uint8_t> used(static_cast<std::size_t>(root) + 1, 0);
    from.mark_reachable(root, used);
    std::vector<NodeId> copy(used.size(), no_node);
    std::vector<NodeId> ops;
    for (NodeId x = 0; x <= root; ++x) {
        if (!used[x]) continue;
        const Kind k = from.kind(x);
        if (k == Kind::variable || k == Kind::complement) {
            throw std::logic_error("import_ground: the formula has variables");
        }
        if (k == Kind::zero || k == Kind::one) {
            copy[x] = x;
        } else if (k == Kind::not_) {
            copy[x] = negate(copy[from.args(x)[0]]);
        } else {
            ops.clear();
            for (const NodeId c : from.args(x)) ops.push_back(copy[c]);
            copy[x] = make(k, ops);
        }
    }
    return copy[root];
}

}  // namespace zorv::bxpr
