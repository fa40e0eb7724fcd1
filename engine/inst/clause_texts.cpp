#include "inst/clause_texts.hpp"

#include <algorithm>
#include <span>

#include "bxpr/id_table.hpp"
#include "bxpr/text.hpp"

namespace zorv::inst {

namespace {

std::string literal_text(const bxpr::Arena& arena, bxpr::NodeId node, std::size_t limit) {
    // One leading byte kept free for the quote of an auxiliary's name.
    std::string text(1, '\'');
    switch (arena.kind(node)) {
        case bxpr::Kind::variable: text.append(arena.name(node)); break;
        case bxpr::Kind::complement: text.append(1, '~').append(arena.name(node)); break;
        default: text.append(bxpr::to_text(arena, node, limit)); break;
    }
    if (text.find('(') != std::string::npos) {
        std::replace(text.begin(), text.end(), '~', '-');
        return text.substr(1);
    }
    text.push_back('\'');
    return text;
}

// The operands of `node` when it is of `kind`, else `node` alone.
std::span<const bxpr::NodeId> parts(const bxpr::Arena& arena, const bxpr::NodeId& node, bxpr::Kind kind) {
    if (arena.kind(node) == kind) return arena.args(node);
    return {&node, 1};
}

}  // namespace

clause_template clause_texts(const bxpr::Arena& arena, bxpr::NodeId root, std::size_t limit) {
    clause_template out;
    const auto clauses = parts(arena, root, bxpr::Kind::and_);
    bxpr::IdMap text_of(clauses.size());
    out.ends.reserve(clauses.size());
    for (const bxpr::NodeId& clause : clauses) {
        for (const bxpr::NodeId literal : parts(arena, clause, bxpr::Kind::or_)) {
            bxpr::NodeId text = text_of.get(literal);
            if (text == bxpr::no_node) {
                text = static_cast<bxpr::NodeId>(out.texts.size());
                out.texts.push_back(literal_text(arena, literal, limit));
                text_of.set(literal, text);
            }
            out.literals.push_back(text);
        }
        out.ends.push_back(out.literals.size());
    }
    return out;
}

}  // namespace zorv::inst
