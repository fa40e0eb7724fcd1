#include "inst/text_check.hpp"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/quoted.hpp"
#include "fenc/constraint.hpp"
#include "fenc/read_error.hpp"
#include "fenc/syntax.hpp"

namespace zorv::inst {

namespace {

using fenc::syntax_kind;
using fenc::syntax_node;

// The attributes that the package's texts read: the Boolean builders, the comparators, and the
// conversions of variables, terms and comparisons.
constexpr std::array<std::string_view, 15> attributes = {
    "and_s", "or_s", "xor_s", "eq_s", "impl_s", "ite_s", "one", "zero",
    "Comparator_type", "LEQ", "GEQ", "BOTH", "to_bx", "to_pb", "to_maxsat"};

// The names that a first evaluation binds itself, and the constants its texts write.
constexpr std::array<std::string_view, 8> evaluation_names = {"Sum", "FormulaPB", "bx", "pb", "manager",
                                                              "True", "False", "None"};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

bool ascii(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A quoted auxiliary name of a clause template: '_bxpr_aux_3', '~_pbct_aux_0'.
bool auxiliary_name(std::string_view text) {
    if (!text.empty() && text.front() == '~') text.remove_prefix(1);
    for (std::string_view prefix : {"_bxpr_aux_", "_pbct_aux_"}) {
        if (text.substr(0, prefix.size()) == prefix) {
            const std::string_view digits = text.substr(prefix.size());
            return !digits.empty() && digits.size() <= 18 &&
                   std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        }
    }
    return false;
}

// Where a node stands, which decides what it may be.
enum class place : std::uint8_t {
    any,       // an expression of the language
    integer,   // an index value: integers and index names joined by + - * ** and signs
    values,    // what a loop runs over: range(...), a list or tuple of index values, or one
    loop_name  // the name a comprehension loop binds
};

class checker {
public:
    checker(const fenc::syntax_tree& tree, const text_scope& scope) : tree_(tree), scope_(scope) {}

    std::optional<text_fault> run() {
        collect_loop_names();
        // Kids come before their node in the tree: from the last node back, a node's place is
        // set before it is visited, with no recursion however deep the text nests.
        std::vector<place> places(tree_.nodes.size(), place::any);
        for (std::size_t k = tree_.nodes.size(); k-- > 0;) visit(tree_.nodes[k], places[k], places);
        return fault_;
    }

private:
    enum class role : std::uint8_t { unknown, variable, value, range, evaluation };

    // The fault that the text shows first is the one reported, as a reader going left to right
    // would meet it.
    void fail(std::string what, std::size_t offset) {
        if (!fault_ || offset < fault_->offset) fault_ = text_fault{std::move(what), offset};
    }

    const syntax_node& node(std::uint32_t k) const { return tree_.nodes[k]; }

    void collect_loop_names() {
        for (const syntax_node& n : tree_.nodes) {
            if (n.kind != syntax_kind::comp) continue;
            for (std::size_t k = 1; k < n.kids.size(); k += 2) loops_.insert(node(n.kids[k]).text);
        }
    }

    role role_of(std::string_view name) {
        const auto known = roles_.find(name);
        if (known != roles_.end()) return known->second;
        role found = role::unknown;
        if (loops_.count(name) != 0) {
            found = role::value;
        } else if (name == "range") {
            found = role::range;
        } else if (scope_.kind == text_kind::expression && listed(evaluation_names, name)) {
            found = role::evaluation;
        } else {
            switch (scope_.role(name)) {
                case name_role::variable: found = role::variable; break;
                case name_role::value: found = role::value; break;
                case name_role::unknown: break;
            }
        }
        roles_.emplace(name, found);
        return found;
    }

    void visit(const syntax_node& n, place at, std::vector<place>& places) {
        switch (at) {
            case place::loop_name: return loop_name(n);
            case place::integer: return integer(n, places);
            case place::values: return values(n, places);
            case place::any: return expression(n, places);
        }
    }

    void loop_name(const syntax_node& n) {
        const std::string name(n.text);
        const bool wide = !ascii(n.text);
        if (n.text.front() == '_' || (wide && !scope_.wide_name_ok(n.text))) {
            return fail("loop name " + name + " is not an index name", n.offset);
        }
        if (n.text == "range" || listed(evaluation_names, n.text)) {
            return fail("loop name " + name + " is reserved", n.offset);
        }
        if (scope_.role(n.text) == name_role::variable) fail("loop name " + name + " hides a declared variable", n.offset);
    }

    void integer(const syntax_node& n, std::vector<place>& places) {
        switch (n.kind) {
            case syntax_kind::number: return;
            case syntax_kind::name:
                if (role_of(n.text) != role::value) fail("unknown index name " + std::string(n.text), n.offset);
                return;
            case syntax_kind::unary:
                if (n.op == '~') return fail("expected an integer expression", n.offset);
                break;
            case syntax_kind::sum:
            case syntax_kind::product:
            case syntax_kind::power:
                break;
            default:
                return fail("expected an integer expression", n.offset);
        }
        for (auto kid : n.kids) places[kid] = place::integer;
    }

    void values(const syntax_node& n, std::vector<place>& places) {
        if (n.kind == syntax_kind::call && node(n.kids[0]).kind == syntax_kind::name &&
            role_of(node(n.kids[0]).text) == role::range) {
            if (n.kids.size() < 2 || n.kids.size() > 4) return fail("range takes one to three index values", n.offset);
            for (std::size_t k = 1; k < n.kids.size(); ++k) places[n.kids[k]] = place::integer;
            places[n.kids[0]] = place::any;
        } else if (n.kind == syntax_kind::list || n.kind == syntax_kind::tuple) {
            for (auto kid : n.kids) places[kid] = place::integer;
        } else if (n.kind == syntax_kind::number || n.kind == syntax_kind::name || n.kind == syntax_kind::sum ||
                   n.kind == syntax_kind::product || n.kind == syntax_kind::power || n.kind == syntax_kind::unary) {
            integer(n, places);
        } else {
            fail("expected range(...) or a list of integers", n.offset);
        }
    }

    void expression(const syntax_node& n, std::vector<place>& places) {
        switch (n.kind) {
            case syntax_kind::number: return;
            case syntax_kind::name:
                if (role_of(n.text) == role::unknown) fail("unknown name " + std::string(n.text), n.offset);
                return;
            case syntax_kind::string:
                if (scope_.kind != text_kind::instantiation || !auxiliary_name(n.text)) {
                    fail("a string is not a value of a constraint", n.offset);
                }
                return;
            case syntax_kind::attr:
                if (!listed(attributes, n.text)) fail("unknown attribute " + std::string(n.text), n.offset);
                return;
            case syntax_kind::call: return call(n, places);
            case syntax_kind::comp:
                for (std::size_t k = 1; k < n.kids.size(); k += 2) {
                    places[n.kids[k]] = place::loop_name;
                    places[n.kids[k + 1]] = place::values;
                }
                return;
            case syntax_kind::dict: return fail("a dict is not a value of a constraint", n.offset);
            default: return;  // operators, lists and tuples, starred arguments: their kids stay expressions
        }
    }

    void call(const syntax_node& n, std::vector<place>& places) {
        const syntax_node& callee = node(n.kids[0]);
        if (callee.kind != syntax_kind::name) return;
        const role r = role_of(callee.text);
        if (r == role::unknown) return fail("unknown variable " + std::string(callee.text), callee.offset);
        if (r != role::variable && r != role::range) return;
        // A variable takes index values, as range does, and nothing else.
        for (std::size_t k = 1; k < n.kids.size(); ++k) {
            if (node(n.kids[k]).kind == syntax_kind::starred) return fail("expected an index", node(n.kids[k]).offset);
            places[n.kids[k]] = place::integer;
        }
    }

    const fenc::syntax_tree& tree_;
    const text_scope& scope_;
    std::unordered_set<std::string_view> loops_;
    std::unordered_map<std::string_view, role> roles_;
    std::optional<text_fault> fault_;
};

}  // namespace

std::optional<text_fault> check_text(std::string_view text, const text_scope& scope) {
    fenc::syntax_tree tree;
    try {
        tree = fenc::parse_syntax(text);
    } catch (const fenc::read_error& e) {
        return text_fault{e.what(), e.offset};
    }
    return checker(tree, scope).run();
}

std::string text_refusal(std::string_view text, const text_fault& fault) {
    return "cannot read constraint " + quoted(text) + ": " + fault.what + " at position " +
           std::to_string(fenc::char_position(text, fault.offset));
}

}  // namespace zorv::inst
