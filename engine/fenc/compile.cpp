#include "fenc/compile.hpp"

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "common/errors.hpp"
#include "fenc/read_error.hpp"
#include "fenc/syntax.hpp"
#include "pbct/int128.hpp"

namespace zorv::fenc {

namespace {

// Where an integer expression stands, for a literal that leaves 64 bits: a row's bound or
// coefficient is refused as the pseudo-Boolean encoder refuses it on the container road; any
// other place cannot be read.
enum class place : std::uint8_t { value, coefficient, bound };

class compiler {
public:
    compiler(const syntax_tree& tree, const catalog& variables, const forall_set& foralls)
        : tree_(tree), variables_(variables) {
        for (const auto& name : foralls.names) bind(name.name);
    }

    program run(text_role role) {
        const syntax_node& root = node(tree_.root);
        if (role == text_role::boolean) {
            if (auto cell = bare_cell(root)) {
                out_.root = add_bool({bool_op::cell, *cell, 0, 0, {}, {}, {}, root.offset});
            } else {
                out_.root = boolean(tree_.root);
            }
        } else {
            out_.root_is_term = true;
            out_.root = term_or_cell(tree_.root);
        }
        return std::move(out_);
    }

private:
    const syntax_node& node(std::uint32_t id) const { return tree_.nodes[id]; }
    [[noreturn]] static void fail(const std::string& what, std::size_t offset) { throw read_error(what, offset); }

    std::uint32_t add_int(int_node n) { return push(out_.ints, std::move(n)); }
    std::uint32_t add_term(term_node n) { return push(out_.terms, std::move(n)); }
    std::uint32_t add_bool(bool_node n) { return push(out_.bools, std::move(n)); }
    template <class T>
    static std::uint32_t push(std::vector<T>& v, T n) {
        v.push_back(std::move(n));
        return static_cast<std::uint32_t>(v.size() - 1);
    }

    bool is_name(std::uint32_t id, std::string_view name) const {
        return node(id).kind == syntax_kind::name && node(id).text == name;
    }
    // obj.attr(args...) with obj a plain name: the attribute's node, else nullptr.
    const syntax_node* method_of(const syntax_node& call, std::string_view object) const {
        if (call.kind != syntax_kind::call) return nullptr;
        const syntax_node& f = node(call.kids[0]);
        if (f.kind != syntax_kind::attr || !is_name(f.kids[0], object)) return nullptr;
        return &f;
    }

    std::optional<std::uint32_t> slot_of(std::string_view name) const {
        const auto found = scope_.find(name);
        if (found == scope_.end() || found->second.empty()) return std::nullopt;
        return found->second.back();
    }

    // A number, or minus one (the least 64-bit integer is written so).
    static std::int64_t literal(const syntax_node& number, bool negated, place at) {
        const pbct::i128 value = negated ? -pbct::i128{number.value} : pbct::i128{number.value};
        if (pbct::fits64(value)) return static_cast<std::int64_t>(value);
        if (at == place::bound) throw limit_error("bound does not fit in 64 bits");
        if (at == place::coefficient) throw limit_error("coefficient does not fit in 64 bits");
        fail("integer too large", number.offset);
    }

    std::uint32_t integer(std::uint32_t id, place at = place::value) {
        const syntax_node& n = node(id);
        int_node out;
        out.offset = n.offset;
        switch (n.kind) {
            case syntax_kind::number:
                out.value = literal(n, false, at);
                return add_int(std::move(out));
            case syntax_kind::name:
                if (n.text == "True" || n.text == "False") {
                    out.value = n.text == "True";
                    return add_int(std::move(out));
                }
                if (auto slot = slot_of(n.text)) {
                    out.op = int_op::slot;
                    out.value = *slot;
                    return add_int(std::move(out));
                }
                fail("unknown index name " + std::string(n.text), n.offset);
            case syntax_kind::sum:
                out.op = int_op::sum;
                out.signs = n.signs;
                break;
            case syntax_kind::product:
                out.op = int_op::product;
                break;
            case syntax_kind::power:
                out.op = int_op::power;
                break;
            case syntax_kind::unary:
                if (n.op == '~') fail("expected an integer expression", n.offset);
                if (n.op == '+') return integer(n.kids[0], at);
                if (node(n.kids[0]).kind == syntax_kind::number) {
                    // -9223372036854775808 is read as one value: its number alone leaves 64 bits
                    out.value = literal(node(n.kids[0]), true, at);
                    return add_int(std::move(out));
                }
                out.op = int_op::negate;
                break;
            default:
                fail("expected an integer expression", n.offset);
        }
        for (auto kid : n.kids) out.kids.push_back(integer(kid, at));
        return add_int(std::move(out));
    }

    std::uint32_t source(std::uint32_t id) {
        const syntax_node& n = node(id);
        source_node out;
        out.offset = n.offset;
        if (n.kind == syntax_kind::list || n.kind == syntax_kind::tuple) {
            for (auto kid : n.kids) out.args.push_back(integer(kid));
        } else if (n.kind == syntax_kind::call && is_name(n.kids[0], "range") && n.kids.size() >= 2 &&
                   n.kids.size() <= 4) {
            out.is_range = true;
            for (std::size_t k = 1; k < n.kids.size(); ++k) out.args.push_back(integer(n.kids[k]));
        } else {
            fail("expected range(...) or a list of integers", n.offset);
        }
        return push(out_.sources, std::move(out));
    }

    // The loops of a comprehension, each bound for the loops after it and for the body; the
    // caller compiles the body and then calls close_loops.
    std::vector<loop> open_loops(const syntax_node& comp) {
        std::vector<loop> loops;
        for (std::size_t k = 1; k + 1 < comp.kids.size(); k += 2) {
            const syntax_node& name = node(comp.kids[k]);
            if (variables_.find(name.text)) {
                fail("loop name " + std::string(name.text) + " hides a declared variable", name.offset);
            }
            const std::uint32_t from = source(comp.kids[k + 1]);
            out_.names.push_back({std::string(name.text), name.offset});
            loops.push_back({out_.slots, from});
            bind(name.text);
        }
        return loops;
    }
    void close_loops(const std::vector<loop>& loops) {
        for (std::size_t k = 0; k < loops.size(); ++k) {
            scope_[bound_.back()].pop_back();
            bound_.pop_back();
        }
    }
    // The operands of a list argument into `out`: a comprehension's loops and its body
    // compiled by `compile`, or the listed items each compiled by it.
    template <class Node, class Compile>
    void list_operands(const syntax_node& list, Node& out, Compile&& compile, const char* expected) {
        if (list.kind == syntax_kind::comp) {
            out.loops = open_loops(list);
            out.a = compile(list.kids[0]);
            close_loops(out.loops);
        } else if (list.kind == syntax_kind::list) {
            for (auto kid : list.kids) out.kids.push_back(compile(kid));
        } else {
            fail(expected, list.offset);
        }
    }
    // A name's innermost binding is the last of its slots; found in constant time however many
    // foralls and loops there are.
    void bind(std::string_view name) {
        scope_[name].push_back(out_.slots++);
        bound_.push_back(name);
    }

    // name(i, j + 1) with `name` a declared variable.
    std::optional<std::uint32_t> bare_cell(const syntax_node& n) {
        if (n.kind != syntax_kind::call || node(n.kids[0]).kind != syntax_kind::name) return std::nullopt;
        const syntax_node& f = node(n.kids[0]);
        auto variable = variables_.find(f.text);
        if (!variable) {
            if (slot_of(f.text) || f.text == "range" || f.text == "Sum" || f.text == "FormulaPB") return std::nullopt;
            fail("unknown variable " + std::string(f.text), f.offset);
        }
        const auto& declared = variables_.at(*variable);
        if (n.kids.size() - 1 != declared.sizes.size()) {
            fail("variable " + declared.name + " takes " + std::to_string(declared.sizes.size()) + " indexes, " +
                     std::to_string(n.kids.size() - 1) + " given",
                 n.offset);
        }
        cell_node cell;
        cell.variable = *variable;
        cell.offset = n.offset;
        for (std::size_t k = 1; k < n.kids.size(); ++k) {
            if (node(n.kids[k]).kind == syntax_kind::starred) fail("expected an index", node(n.kids[k]).offset);
            cell.indexes.push_back(integer(n.kids[k]));
        }
        return push(out_.cells, std::move(cell));
    }

    // obj.method() with obj a bare cell.
    std::optional<std::uint32_t> converted_cell(const syntax_node& n, std::string_view method) {
        if (n.kind != syntax_kind::call || n.kids.size() != 1) return std::nullopt;
        const syntax_node& f = node(n.kids[0]);
        if (f.kind != syntax_kind::attr || f.text != method) return std::nullopt;
        return bare_cell(node(f.kids[0]));
    }

    // A term, or a bare variable reference standing for the term of that one cell.
    std::uint32_t term_or_cell(std::uint32_t id) {
        if (auto cell = bare_cell(node(id))) {
            term_node t;
            t.op = term_op::cell;
            t.a = *cell;
            t.offset = node(id).offset;
            return add_term(std::move(t));
        }
        return term(id);
    }

    std::uint32_t term(std::uint32_t id) {
        const syntax_node& n = node(id);
        term_node out;
        out.offset = n.offset;
        if (n.kind == syntax_kind::sum) {
            out.op = term_op::sum;
            out.signs = n.signs;
            for (auto kid : n.kids) out.kids.push_back(term(kid));
            return add_term(std::move(out));
        }
        if (n.kind == syntax_kind::product) {
            out.op = term_op::scale;
            out.a = integer(n.kids[0], place::coefficient);
            out.b = term(n.kids[1]);
            return add_term(std::move(out));
        }
        if (auto cell = converted_cell(n, "to_pb")) {
            out.a = *cell;
            return add_term(std::move(out));
        }
        if (n.kind == syntax_kind::call && is_name(n.kids[0], "Sum")) {
            if (n.kids.size() != 2 || node(n.kids[1]).kind != syntax_kind::starred) {
                fail("expected Sum(*[...])", n.offset);
            }
            out.op = term_op::collect;
            list_operands(node(node(n.kids[1]).kids[0]), out, [&](std::uint32_t kid) { return term(kid); },
                          "expected a list of terms");
            return add_term(std::move(out));
        }
        fail("expected a pseudo-Boolean term", n.offset);
    }

    std::uint32_t boolean(std::uint32_t id) {
        const syntax_node& n = node(id);
        bool_node out;
        out.offset = n.offset;
        if (n.kind == syntax_kind::unary && n.op == '~') {
            out.op = bool_op::negate;
            out.a = boolean(n.kids[0]);
            return add_bool(std::move(out));
        }
        if (auto cell = converted_cell(n, "to_bx")) {
            out.op = bool_op::cell;
            out.a = *cell;
            return add_bool(std::move(out));
        }
        if (n.kind == syntax_kind::call && n.kids.size() == 2 && node(n.kids[0]).kind == syntax_kind::attr &&
            node(n.kids[0]).text == "to_bx" && is_name(n.kids[1], "manager")) {
            return comparison(node(node(n.kids[0]).kids[0]), out);
        }
        if (const syntax_node* method = method_of(n, "bx")) {
            const std::string_view name = method->text;
            const std::size_t args = n.kids.size() - 1;
            static constexpr std::pair<std::string_view, bool_op> lists[] = {
                {"and_s", bool_op::and_}, {"or_s", bool_op::or_}, {"xor_s", bool_op::xor_}, {"eq_s", bool_op::eq_}};
            for (const auto& [listed, op] : lists) {
                if (name != listed) continue;
                if (args != 1) fail("bx." + std::string(name) + " takes one list", n.offset);
                out.op = op;
                list_operands(node(n.kids[1]), out, [&](std::uint32_t kid) { return boolean(kid); },
                              "expected a list of Boolean expressions");
                return add_bool(std::move(out));
            }
            if ((name == "one" || name == "zero") && args == 0) {
                out.op = name == "one" ? bool_op::one : bool_op::zero;
                return add_bool(std::move(out));
            }
            if (name == "impl_s" && args == 2) {
                out.op = bool_op::implies;
                out.a = boolean(n.kids[1]);
                out.b = boolean(n.kids[2]);
                return add_bool(std::move(out));
            }
            if (name == "ite_s" && args == 3) {
                out.op = bool_op::ite;
                out.a = boolean(n.kids[1]);
                out.b = boolean(n.kids[2]);
                out.c = boolean(n.kids[3]);
                return add_bool(std::move(out));
            }
            fail("unknown Boolean combinator bx." + std::string(name), method->offset);
        }
        fail("expected a Boolean expression", n.offset);
    }

    // FormulaPB(term, pb.Comparator_type.X, bound), the part before ".to_bx(manager)".
    std::uint32_t comparison(const syntax_node& n, bool_node& out) {
        if (n.kind != syntax_kind::call || !is_name(n.kids[0], "FormulaPB") || n.kids.size() != 4) {
            fail("expected FormulaPB(term, comparator, bound)", n.offset);
        }
        const syntax_node& c = node(n.kids[2]);
        const bool typed = c.kind == syntax_kind::attr && node(c.kids[0]).kind == syntax_kind::attr &&
                           node(c.kids[0]).text == "Comparator_type" && is_name(node(c.kids[0]).kids[0], "pb");
        if (!typed) fail("expected pb.Comparator_type.LEQ, GEQ or BOTH", c.offset);
        if (c.text == "LEQ") {
            out.comparator = pbct::Comparator::LEQ;
        } else if (c.text == "GEQ") {
            out.comparator = pbct::Comparator::GEQ;
        } else if (c.text == "BOTH") {
            out.comparator = pbct::Comparator::BOTH;
        } else {
            fail("expected pb.Comparator_type.LEQ, GEQ or BOTH", c.offset);
        }
        out.op = bool_op::compare;
        out.a = term_or_cell(n.kids[1]);
        out.b = integer(n.kids[3], place::bound);
        return add_bool(std::move(out));
    }

    const syntax_tree& tree_;
    const catalog& variables_;
    std::unordered_map<std::string_view, std::vector<std::uint32_t>> scope_;
    std::vector<std::string_view> bound_;
    program out_;
};

}  // namespace

program compile_text(std::string_view text, text_role role, const catalog& variables, const forall_set& foralls) {
    const syntax_tree tree = parse_syntax(text);
    return compiler(tree, variables, foralls).run(role);
}

}  // namespace zorv::fenc
