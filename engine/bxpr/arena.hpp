#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bxpr/id_table.hpp"
#include "bxpr/node.hpp"

namespace zorv::bxpr {

// All nodes of one Boolean context. Nodes are hash-consed: one name gives one
// variable, one (kind, operand list) gives one operator node, and every node has at
// most one negation node, so equal subformulas are one node and identity is
// equality. Nodes are never freed individually; the arena lives as long as the
// context or any expression of it.
class Arena {
public:
    static constexpr NodeId zero = 0;
    static constexpr NodeId one = 1;

    Arena();

    // The variable called `name`, created on first request.
    NodeId variable(std::string_view name);
    // The variables prefix_first ... prefix_(first + count - 1), appended to `out`;
    // like variable() for each, with the table probes overlapped.
    void make_variables(std::string_view prefix, std::size_t first, std::size_t count,
                        std::vector<NodeId>& out);
    // The variable called `name`, or no_node.
    NodeId find_variable(std::string_view name) const;

    // How many auxiliary names prefix_0, prefix_1, ... the Tseytin transformation has taken
    // in this context; the next call with that prefix goes on from there, so that two calls
    // never give one name to different subformulas.
    std::size_t auxiliaries_taken(std::string_view prefix) const;
    void set_auxiliaries_taken(std::string_view prefix, std::size_t count);

    // Negation with the obvious simplifications: constants swap, a variable and its
    // complement map onto each other, a double negation cancels.
    NodeId negate(NodeId x);
    // The negation if it already exists, else no_node; creates nothing.
    NodeId known_negation(NodeId x) const { return neg_[x]; }

    // The operator node of `kind` over `args`, exactly as given.
    NodeId make(Kind kind, std::span<const NodeId> args);

    // Sets marks[x] for every node x reachable from `start` (itself included) that is
    // not marked yet; marks must cover ids up to `start`.
    void mark_reachable(NodeId start, std::vector<std::uint8_t>& marks) const;

    // make(kind, ...) for each run of `flat` that `ends` (end offsets) delimits,
    // appended to `out`. The table probes of the whole batch overlap, which matters
    // once the arena is far larger than the processor's caches.
    void make_many(Kind kind, std::span<const NodeId> flat, std::span<const std::uint32_t> ends,
                   std::vector<NodeId>& out);

    // A copy of `root`, a formula of `from` without variables, in this arena.
    NodeId import_ground(const Arena& from, NodeId root);

    bool has_variables() const { return variables_ > 0; }

    // Room for that many more nodes, operands and operator nodes, so that a large
    // construction does not repeatedly copy the arena as it grows.
    void reserve(std::size_t nodes, std::size_t operands, std::size_t operators);

    Kind kind(NodeId x) const { return nodes_[x].kind; }
    // Operands in the order given. The span is invalidated by the next node creation.
    std::span<const NodeId> args(NodeId x) const {
        const Node& n = nodes_[x];
        if (n.kind == Kind::variable) return {};
        return {args_.data() + n.first, n.count};
    }
    // Name of a variable, or of the variable under a complement.
    std::string_view name(NodeId x) const;
    std::size_t size() const { return nodes_.size(); }

private:
    struct Node {
        Kind kind;
        std::uint32_t first;  // into args_, or into names_ for a variable
        std::uint32_t count;  // operand count, or name length
    };

    NodeId push(Kind kind, std::span<const NodeId> args);
    NodeId next_id() const;
    NodeId variable(std::string_view name, std::uint64_t hash);
    bool same_op(NodeId x, Kind kind, std::span<const NodeId> args) const;
    static std::uint64_t hash_op(Kind kind, std::span<const NodeId> args);

    std::vector<Node> nodes_;
    std::vector<NodeId> args_;
    std::vector<NodeId> neg_;  // the negation node, no_node until created
    std::string names_;        // every variable name, back to back
    std::size_t variables_ = 0;
    IdTable by_name_;
    IdTable by_op_;
    std::map<std::string, std::size_t, std::less<>> auxiliaries_taken_;
};

}  // namespace zorv::bxpr
