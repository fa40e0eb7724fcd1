#include "inst/clause_texts.hpp"

#include <algorithm>
#include <span>

#include "bxpr/text.hpp"

namespace zorv::inst {

namespace {

std::string literal_text(const bxpr::Arena& arena, bxpr::NodeId node, std::size_t limit) {
    std::string text;
    switch (arena.kind(node)) {
        case bxpr::Kind::variable: text = arena.name(node); break;
        case bxpr::Kind::complement: text = "~" + std::string(arena.name(node)); break;
        default: text = bxpr::to_text(arena, node, limit); break;
    }
    if (text.find('(') != std::string::npos) {
        std::replace(text.begin(), text.end(), '~', '-');
        return text;
    }
    return "'" + text + "'";
}

// The operands of `node` when it is of `kind`, else `node` alone.
std::span<const bxpr::NodeId> parts(const bxpr::Arena& arena, const bxpr::NodeId& node, bxpr::Kind kind) {
    if (arena.kind(node) == kind) return arena.args(node);
    return {&node, 1};
}

}  // namespace

std::vector<std::vector<std::string>> clause_texts(const bxpr::Arena& arena, bxpr::NodeId root, std::size_t limit) {
    std::vector<std::vector<std::string>> out;
    for (const bxpr::NodeId& clause : parts(arena, root, bxpr::Kind::and_)) {
        auto& texts = out.emplace_back();
        for (const bxpr::NodeId literal : parts(arena, clause, bxpr::Kind::or_)) {
            texts.push_back(literal_text(arena, literal, limit));
        }
    }
    return out;
}

}  // namespace zorv::inst
