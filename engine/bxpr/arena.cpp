#include "bxpr/arena.hpp"

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "common/errors.hpp"

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
    const std::uint64_t h = std::hash<std::string_view>{}(name);
    NodeId v = by_name_.find(h, [&](NodeId c) { return this->name(c) == name; });
    if (v != no_node) return v;
    if (names_.size() + name.size() >= max_u32) {
        throw limit_error("variable names of one Boolean context exceed 4 GiB");
    }
    v = next_id();
    nodes_.push_back({Kind::variable, static_cast<std::uint32_t>(names_.size()),
                      static_cast<std::uint32_t>(name.size())});
    neg_.push_back(no_node);
    names_.append(name);
    by_name_.insert(h, v);
    ++variables_;
    return v;
}

std::string_view Arena::name(NodeId x) const {
    if (nodes_[x].kind == Kind::complement) x = args_[nodes_[x].first];
    const Node& n = nodes_[x];
    return {names_.data() + n.first, n.count};
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

NodeId Arena::make(Kind kind, std::span<const NodeId> args) {
    // Operands that live in args_ itself would dangle when it grows.
    std::vector<NodeId> copy;
    if (!args.empty() && args.data() >= args_.data() && args.data() < args_.data() + args_.size()) {
        copy.assign(args.begin(), args.end());
        args = copy;
    }
    const std::uint64_t h = hash_op(kind, args);
    NodeId id = by_op_.find(h, [&](NodeId c) {
        const Node& n = nodes_[c];
        return n.kind == kind && n.count == args.size() &&
               std::equal(args.begin(), args.end(), args_.begin() + n.first);
    });
    if (id != no_node) return id;
    id = push(kind, args);
    by_op_.insert(h, id);
    return id;
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
