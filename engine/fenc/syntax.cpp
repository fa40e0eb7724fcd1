#include "fenc/syntax.hpp"

#include <array>

#include "fenc/lexer.hpp"
#include "fenc/read_error.hpp"

namespace zorv::fenc {

namespace {

constexpr std::array<std::string_view, 35> keywords = {
    "False", "None",   "True",    "and",      "as",       "assert", "async", "await", "break",
    "class", "continue", "def",   "del",      "elif",     "else",   "except", "finally", "for",
    "from",  "global", "if",      "import",   "in",       "is",     "lambda", "nonlocal", "not",
    "or",    "pass",   "raise",   "return",   "try",      "while",  "with",  "yield"};

bool is_keyword(std::string_view name) {
    for (auto k : keywords) {
        if (k == name) return true;
    }
    return false;
}

class parser {
public:
    explicit parser(std::string_view text) : tokens_(tokenize(text)) {}

    syntax_tree run() {
        tree_.root = expression();
        if (peek().kind != token_kind::end) fail("unexpected text");
        return std::move(tree_);
    }

private:
    const token& peek() const { return tokens_[pos_]; }
    bool at_op(std::string_view op) const { return peek().kind == token_kind::op && peek().text == op; }
    bool at_name(std::string_view name) const { return peek().kind == token_kind::name && peek().text == name; }
    [[noreturn]] void fail(const char* what) const { throw read_error(what, peek().offset); }
    void expect(std::string_view op) {
        if (!at_op(op)) {
            throw read_error("expected '" + std::string(op) + "'", peek().offset);
        }
        ++pos_;
    }

    std::uint32_t add(syntax_node node) {
        tree_.nodes.push_back(std::move(node));
        return static_cast<std::uint32_t>(tree_.nodes.size() - 1);
    }

    struct depth_guard {
        explicit depth_guard(parser& p) : p_(p) {
            if (++p_.depth_ > max_depth) p_.fail(too_deep);
        }
        ~depth_guard() { --p_.depth_; }
        depth_guard(const depth_guard&) = delete;
        depth_guard& operator=(const depth_guard&) = delete;
        parser& p_;
    };

    std::uint32_t expression() {
        const depth_guard guard(*this);
        const std::size_t offset = peek().offset;
        std::uint32_t first = product();
        if (!at_op("+") && !at_op("-")) return first;
        syntax_node node{syntax_kind::sum, 0, {}, 0, offset, {first}, "+"};
        while (at_op("+") || at_op("-")) {
            node.signs += peek().text[0];
            ++pos_;
            node.kids.push_back(product());
        }
        return add(std::move(node));
    }

    std::uint32_t product() {
        const std::size_t offset = peek().offset;
        std::uint32_t left = unary();
        // A chain of products nests to the left: each link counts as a level.
        for (int links = 0; at_op("*"); ++links) {
            if (depth_ + links > max_depth) fail(too_deep);
            ++pos_;
            const std::uint32_t right = unary();
            left = add({syntax_kind::product, '*', {}, 0, offset, {left, right}, {}});
        }
        return left;
    }

    std::uint32_t unary() {
        if (at_op("-") || at_op("+") || at_op("~")) {
            const depth_guard guard(*this);
            const token t = peek();
            ++pos_;
            const std::uint32_t operand = unary();
            return add({syntax_kind::unary, t.text[0], {}, 0, t.offset, {operand}, {}});
        }
        return power();
    }

    std::uint32_t power() {
        const std::size_t offset = peek().offset;
        const std::uint32_t base = postfix();
        if (!at_op("**")) return base;
        ++pos_;
        const depth_guard guard(*this);
        const std::uint32_t exponent = unary();
        return add({syntax_kind::power, '^', {}, 0, offset, {base, exponent}, {}});
    }

    std::uint32_t postfix() {
        const std::size_t offset = peek().offset;
        std::uint32_t node = atom();
        for (;;) {
            if (at_op(".")) {
                ++pos_;
                if (peek().kind != token_kind::name) fail("expected a name after '.'");
                node = add({syntax_kind::attr, 0, peek().text, 0, peek().offset, {node}, {}});
                ++pos_;
            } else if (at_op("(")) {
                const depth_guard guard(*this);
                ++pos_;
                syntax_node call{syntax_kind::call, 0, {}, 0, offset, {node}, {}};
                while (!at_op(")")) {
                    if (at_op("*")) {
                        const std::size_t star = peek().offset;
                        ++pos_;
                        const std::uint32_t inner = expression();
                        call.kids.push_back(add({syntax_kind::starred, '*', {}, 0, star, {inner}, {}}));
                    } else {
                        call.kids.push_back(expression());
                    }
                    if (!at_op(",")) break;
                    ++pos_;
                }
                expect(")");
                node = add(std::move(call));
            } else {
                return node;
            }
        }
    }

    // The items of a tuple or list after its first, up to `close`; a trailing comma is allowed.
    std::uint32_t display_rest(syntax_node display, std::string_view close) {
        while (at_op(",")) {
            ++pos_;
            if (at_op(close)) break;
            display.kids.push_back(expression());
        }
        expect(close);
        return add(std::move(display));
    }

    std::uint32_t atom() {
        const token t = peek();
        if (t.kind == token_kind::number) {
            ++pos_;
            return add({syntax_kind::number, 0, t.text, t.value, t.offset, {}, {}});
        }
        if (t.kind == token_kind::string) {
            ++pos_;
            return add({syntax_kind::string, 0, t.text, 0, t.offset, {}, {}});
        }
        if (t.kind == token_kind::name) {
            if (is_keyword(t.text) && t.text != "True" && t.text != "False" && t.text != "None") {
                fail("unexpected keyword");
            }
            ++pos_;
            return add({syntax_kind::name, 0, t.text, 0, t.offset, {}, {}});
        }
        if (at_op("(")) {
            const depth_guard guard(*this);
            ++pos_;
            if (at_op(")")) {
                ++pos_;
                return add({syntax_kind::tuple, 0, {}, 0, t.offset, {}, {}});
            }
            const std::uint32_t first = expression();
            if (at_op(")")) {
                ++pos_;
                return first;
            }
            return display_rest({syntax_kind::tuple, 0, {}, 0, t.offset, {first}, {}}, ")");
        }
        if (at_op("[")) {
            const depth_guard guard(*this);
            ++pos_;
            syntax_node list{syntax_kind::list, 0, {}, 0, t.offset, {}, {}};
            if (at_op("]")) {
                ++pos_;
                return add(std::move(list));
            }
            list.kids.push_back(expression());
            if (at_name("for")) {
                list.kind = syntax_kind::comp;
                // Each loop nests the next: it counts as a level.
                for (int loops = 1; at_name("for"); ++loops) {
                    if (depth_ + loops > max_depth) fail(too_deep);
                    ++pos_;
                    if (peek().kind != token_kind::name || is_keyword(peek().text)) fail("expected a loop name");
                    list.kids.push_back(add({syntax_kind::name, 0, peek().text, 0, peek().offset, {}, {}}));
                    ++pos_;
                    if (!at_name("in")) fail("expected 'in'");
                    ++pos_;
                    list.kids.push_back(expression());
                }
                expect("]");
                return add(std::move(list));
            }
            return display_rest(std::move(list), "]");
        }
        if (at_op("{")) {
            const depth_guard guard(*this);
            ++pos_;
            syntax_node dict{syntax_kind::dict, 0, {}, 0, t.offset, {}, {}};
            while (!at_op("}")) {
                dict.kids.push_back(expression());
                expect(":");
                dict.kids.push_back(expression());
                if (!at_op(",")) break;
                ++pos_;
            }
            expect("}");
            return add(std::move(dict));
        }
        fail(t.kind == token_kind::end ? "unexpected end of text" : "unexpected token");
    }

    std::vector<token> tokens_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    syntax_tree tree_;
};

}  // namespace

syntax_tree parse_syntax(std::string_view text) { return parser(text).run(); }

}  // namespace zorv::fenc
