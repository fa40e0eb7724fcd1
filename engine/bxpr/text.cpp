#include "bxpr/text.hpp"

#include <vector>

#include "common/quoted.hpp"

namespace zorv::bxpr {

namespace {

const char* operator_name(Kind k) {
    switch (k) {
        case Kind::and_: return "And";
        case Kind::or_: return "Or";
        case Kind::xor_: return "Xor";
        case Kind::equal: return "Equal";
        case Kind::implies: return "Implies";
        case Kind::ite: return "IfThenElse";
        default: return "";
    }
}

}  // namespace

std::string to_text(const Arena& a, NodeId root, std::size_t limit) {
    struct Frame {
        NodeId node;
        std::size_t next;  // next operand to print
    };
    std::string out;
    std::vector<Frame> stack{{root, 0}};
    while (!stack.empty()) {
        if (out.size() > limit) {
            out.resize(character_cut(out, limit));
            out += "...";
            break;
        }
        Frame& f = stack.back();
        const Kind k = a.kind(f.node);
        if (f.next == 0 && k != Kind::not_) {
            switch (k) {
                case Kind::zero: out += '0'; break;
                case Kind::one: out += '1'; break;
                case Kind::variable: out += a.name(f.node); break;
                case Kind::complement: out += '~'; out += a.name(f.node); break;
                default: out += operator_name(k); out += '('; break;
            }
            if (is_constant(k) || is_literal(k)) {
                stack.pop_back();
                continue;
            }
        }
        if (k == Kind::not_) {
            if (f.next == 0) {
                out += '~';
                f.next = 1;
                stack.push_back({a.args(f.node)[0], 0});
            } else {
                stack.pop_back();
            }
            continue;
        }
        const auto args = a.args(f.node);
        if (f.next == args.size()) {
            out += ')';
            stack.pop_back();
            continue;
        }
        if (f.next > 0) out += ", ";
        const NodeId child = args[f.next++];
        stack.push_back({child, 0});
    }
    return out;
}

}  // namespace zorv::bxpr
