#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorv::fenc {

enum class syntax_kind : std::uint8_t {
    name,     // text
    number,   // value
    string,   // text (foralls keys only)
    attr,     // kids[0] . text
    call,     // kids[0] ( kids[1..] )
    starred,  // * kids[0], as a call argument
    sum,      // kids joined by signs: signs[k] is '+' or '-', signs[0] is '+'
    product,  // kids[0] * kids[1]
    power,    // kids[0] ** kids[1]
    unary,    // op kids[0], op one of - + ~
    list,     // [ kids ]
    tuple,    // ( kids , )
    comp,     // [ kids[0] for kids[1] in kids[2] for kids[3] in kids[4] ... ]
    dict,     // { kids[0]: kids[1], ... }
};

// One node of the syntax tree of a text; nodes refer to their kids by index.
struct syntax_node {
    syntax_kind kind = syntax_kind::name;
    char op = 0;
    std::string_view text;
    std::uint64_t value = 0;
    std::size_t offset = 0;
    std::vector<std::uint32_t> kids;
    std::string signs;
};

// The syntax tree of one text: a subset of the host language's expressions (names, integers,
// attribute access, calls with starred arguments, + - * ** and unary - + ~, lists, tuples,
// list comprehensions, and dicts with string keys). Nodes point into the text.
struct syntax_tree {
    std::vector<syntax_node> nodes;
    std::uint32_t root = 0;
};

// Nesting deeper than this, or a comprehension of more loops, is refused: the reader and the walks
// over what it reads take up to about 1.4 KiB of native stack per level, and a thread may have no
// more than 256 KiB. The foralls of a constraint count as loops around its text.
constexpr int max_depth = 200;
inline constexpr const char* too_deep = "nesting too deep (more than 200 levels)";

// Throws read_error with the offset of the first token that does not fit.
syntax_tree parse_syntax(std::string_view text);

}  // namespace zorv::fenc
