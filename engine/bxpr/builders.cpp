#include "bxpr/builders.hpp"

#include <array>

#include "bxpr/small_vec.hpp"

namespace zorv::bxpr {

namespace {

// And/Or: flatten nested nodes of the same kind, drop the neutral constant, let the
// dominating constant win, keep the first of repeated operands, and let x with ~x
// give the dominating constant. The flattening walks an explicit stack so deeply
// nested operands cannot exhaust the C stack.
NodeId junction(Arena& a, Kind kind, std::span<const NodeId> ops) {
    const NodeId neutral = kind == Kind::and_ ? Arena::one : Arena::zero;
    const NodeId dominant = kind == Kind::and_ ? Arena::zero : Arena::one;
    SmallVec<NodeId, 8> out;
    IdMap seen(ops.size());
    SmallVec<NodeId, 8> stack;
    stack.append(ops.rbegin(), ops.rend());
    while (!stack.empty()) {
        const NodeId x = stack.back();
        stack.pop_back();
        if (a.kind(x) == kind) {
            const auto sub = a.args(x);
            stack.append(sub.rbegin(), sub.rend());
            continue;
        }
        if (x == neutral || seen.contains(x)) continue;
        const NodeId nx = a.known_negation(x);
        if (x == dominant || (nx != no_node && seen.contains(nx))) return dominant;
        seen.set(x, 0);
        out.push_back(x);
    }
    if (out.empty()) return neutral;
    if (out.size() == 1) return out.front();
    return a.make(kind, out);
}

}  // namespace

NodeId and_s(Arena& a, std::span<const NodeId> ops) { return junction(a, Kind::and_, ops); }

NodeId or_s(Arena& a, std::span<const NodeId> ops) { return junction(a, Kind::or_, ops); }

NodeId and_(Arena& a, std::span<const NodeId> ops) { return a.make(Kind::and_, ops); }

NodeId xor_s(Arena& a, std::span<const NodeId> ops) {
    // Constants and cancelling pairs (x with x, or x with ~x and a flip) leave the
    // parity; survivors keep the order of their first occurrence.
    bool flip = false;
    SmallVec<NodeId, 8> out;
    IdMap where(ops.size());  // operand -> its slot in out, no_node once cancelled
    for (const NodeId x : ops) {
        if (x == Arena::zero) continue;
        if (x == Arena::one) {
            flip = !flip;
            continue;
        }
        NodeId slot = where.get(x);
        const NodeId nx = a.known_negation(x);
        NodeId mate = x;
        if (slot == no_node && nx != no_node) {
            slot = where.get(nx);
            mate = nx;
            if (slot != no_node) flip = !flip;
        }
        if (slot != no_node) {
            out[slot] = no_node;
            where.set(mate, no_node);
        } else {
            where.set(x, static_cast<NodeId>(out.size()));
            out.push_back(x);
        }
    }
    out.erase_all(no_node);
    NodeId r = Arena::zero;
    if (out.size() == 1) r = out.front();
    if (out.size() > 1) r = a.make(Kind::xor_, out);
    return flip ? a.negate(r) : r;
}

NodeId eq_s(Arena& a, std::span<const NodeId> ops) {
    bool has_one = false;
    bool has_zero = false;
    SmallVec<NodeId, 8> out;
    IdMap seen(ops.size());
    for (const NodeId x : ops) {
        if (x == Arena::one) {
            has_one = true;
        } else if (x == Arena::zero) {
            has_zero = true;
        } else if (!seen.contains(x)) {
            const NodeId nx = a.known_negation(x);
            if (nx != no_node && seen.contains(nx)) return Arena::zero;  // x = ~x never holds
            seen.set(x, 0);
            out.push_back(x);
        }
    }
    if (has_one && has_zero) return Arena::zero;
    if (has_one) return and_s(a, out);
    if (has_zero) return a.negate(or_s(a, out));
    if (out.size() < 2) return Arena::one;
    return a.make(Kind::equal, out);
}

NodeId impl_s(Arena& a, NodeId premise, NodeId conclusion) {
    if (premise == Arena::zero || conclusion == Arena::one || premise == conclusion) return Arena::one;
    if (premise == Arena::one) return conclusion;
    if (conclusion == Arena::zero) return a.negate(premise);
    if (a.known_negation(premise) == conclusion) return conclusion;
    const NodeId args[] = {premise, conclusion};
    return a.make(Kind::implies, args);
}

NodeId ite_s(Arena& a, NodeId cond, NodeId then_, NodeId else_) {
    if (cond == Arena::one || then_ == else_) return then_;
    if (cond == Arena::zero) return else_;
    // A branch equal to the condition, or to its negation, is a constant there.
    const NodeId known_not_cond = a.known_negation(cond);
    if (then_ == cond) then_ = Arena::one;
    if (then_ == known_not_cond) then_ = Arena::zero;
    if (else_ == cond) else_ = Arena::zero;
    if (else_ == known_not_cond) else_ = Arena::one;
    if (then_ == else_) return then_;
    const auto pair = [](NodeId x, NodeId y) { return std::array<NodeId, 2>{x, y}; };
    if (then_ == Arena::one) return or_s(a, pair(cond, else_));
    if (then_ == Arena::zero) return and_s(a, pair(a.negate(cond), else_));
    if (else_ == Arena::one) return or_s(a, pair(a.negate(cond), then_));
    if (else_ == Arena::zero) return and_s(a, pair(cond, then_));
    if (a.known_negation(then_) == else_) return eq_s(a, pair(cond, then_));
    const NodeId args[] = {cond, then_, else_};
    return a.make(Kind::ite, args);
}

}  // namespace zorv::bxpr
