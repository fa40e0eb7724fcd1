#include "inst/clause_texts.hpp"

#include <algorithm>

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

std::vector<std::string> clause(const bxpr::Arena& arena, bxpr::NodeId node, std::size_t limit) {
    std::vector<std::string> out;
    if (arena.kind(node) != bxpr::Kind::or_) {
        out.push_back(literal_text(arena, node, limit));
        return out;
    }
    const auto args = arena.args(node);
    out.reserve(args.size());
    for (const bxpr::NodeId arg : args) out.push_back(literal_text(arena, arg, limit));
    return out;
}

}  // namespace

std::vector<std::vector<std::string>> clause_texts(const bxpr::Arena& arena, bxpr::NodeId root, std::size_t limit) {
    std::vector<std::vector<std::string>> out;
    if (arena.kind(root) != bxpr::Kind::and_) {
        out.push_back(clause(arena, root, limit));
        return out;
    }
    const auto args = arena.args(root);
    out.reserve(args.size());
    for (const bxpr::NodeId arg : args) out.push_back(clause(arena, arg, limit));
    return out;
}

}  // namespace zorv::inst
