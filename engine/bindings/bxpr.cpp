#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/vector.h>

#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>
#include <string>
#include <vector>

#include "bindings/gc_pause.hpp"
#include "bindings/module.hpp"
#include "bindings/py_objects.hpp"
#include "bxpr/arena.hpp"
#include "bxpr/builders.hpp"
#include "bxpr/small_vec.hpp"
#include "bxpr/support.hpp"
#include "bxpr/text.hpp"
#include "bxpr/tseytin.hpp"
#include "common/errors.hpp"
#include "inst/clause_texts.hpp"
#include "pbcircuit/comparison_circuit.hpp"
#include "pbct/clause_database.hpp"
#include "pbct/pb_constraint.hpp"

namespace nb = nanobind;
using zorv::bxpr::Arena;
using zorv::bxpr::Kind;
using zorv::bxpr::NodeId;

namespace {

// A Python expression is a light handle: the arena that owns the node (kept alive
// by every handle) and the node's id. The constants are ids 0 and 1 of every arena
// and carry no arena at all, so they combine with expressions of any context.
struct BaseExpr {
    std::shared_ptr<Arena> ctx;
    NodeId id;
    bool is_constant() const { return !ctx; }
};
struct Zero : BaseExpr {};
struct One : BaseExpr {};
struct Variable : BaseExpr {};
struct Complement : BaseExpr {};
struct Not : BaseExpr {};
struct And : BaseExpr {};
struct Or : BaseExpr {};
struct Xor : BaseExpr {};
struct Equal : BaseExpr {};
struct Implies : BaseExpr {};
struct IfThenElse : BaseExpr {};

struct Context {
    std::shared_ptr<Arena> arena = std::make_shared<Arena>();
};

// Variables of the consecutive numbers first, first + 1, ..., made at once and held by their ids:
// a long objective then needs no Python object per variable unless someone asks for them.
struct VariableRun {
    std::shared_ptr<Arena> arena;
    std::int64_t first = 0;
    std::vector<NodeId> ids;

    const NodeId* find(std::int64_t number) const {
        if (number < first || number - first >= static_cast<std::int64_t>(ids.size())) return nullptr;
        return &ids[static_cast<std::size_t>(number - first)];
    }
};

// get_var of each name of a list, in order.
std::vector<NodeId> variable_ids(const Context& c, nb::handle names, const char* caller) {
    if (!PyList_CheckExact(names.ptr())) throw zorv::type_error(std::string(caller) + " takes a list of names");
    const Py_ssize_t count = PyList_GET_SIZE(names.ptr());
    std::vector<NodeId> ids;
    ids.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = PyList_GET_ITEM(names.ptr(), i);
        Py_ssize_t size = 0;
        const char* data = PyUnicode_Check(item) ? zorv::py::utf8_of(item, size) : nullptr;
        if (data == nullptr) {
            throw zorv::type_error(std::string("a variable name must be a str, not ") + Py_TYPE(item)->tp_name);
        }
        ids.push_back(c.arena->variable(std::string_view(data, static_cast<std::size_t>(size))));
    }
    return ids;
}

constexpr std::size_t text_limit = 1'000'000;

nb::object wrap(const std::shared_ptr<Arena>& ctx, NodeId id) {
    if (id == Arena::zero) return nb::cast(Zero{{nullptr, id}});
    if (id == Arena::one) return nb::cast(One{{nullptr, id}});
    const BaseExpr e{ctx, id};
    switch (ctx->kind(id)) {
        case Kind::variable: return nb::cast(Variable{e});
        case Kind::complement: return nb::cast(Complement{e});
        case Kind::not_: return nb::cast(Not{e});
        case Kind::and_: return nb::cast(And{e});
        case Kind::or_: return nb::cast(Or{e});
        case Kind::xor_: return nb::cast(Xor{e});
        case Kind::equal: return nb::cast(Equal{e});
        case Kind::implies: return nb::cast(Implies{e});
        case Kind::ite: return nb::cast(IfThenElse{e});
        default: break;
    }
    throw std::logic_error("unknown Boolean node kind");
}

// wrap of each id, as a list.
nb::list wrapped(const std::shared_ptr<Arena>& ctx, std::span<const NodeId> ids) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(ids.size()));
    if (list == nullptr) throw nb::python_error();  // MemoryError
    auto out = nb::steal<nb::list>(list);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), wrap(ctx, ids[i]).release().ptr());
    }
    return out;
}

const char* python_type(nb::handle h) { return Py_TYPE(h.ptr())->tp_name; }

// The node behind a Python object already known to be a BaseExpr. An instance made with
// __new__ alone, or by a subclass whose __init__ never reached the engine, holds no node:
// reading it would read memory that was never set.
const BaseExpr& ready_node(nb::handle h, const std::string& what) {
    if (!nb::inst_ready(h)) {
        throw zorv::type_error(what + " is an uninitialised " + python_type(h) +
                               ": Boolean expressions come from Context.get_var and the builders");
    }
    return *nb::inst_ptr<BaseExpr>(h);
}

// The operands of one builder call, checked and gathered into one context. A
// formula without variables (and_ over constants, say) belongs to no context in
// particular: it is copied into the context of the other operands.
class Operands {
public:
    explicit Operands(const char* builder) : builder_(builder) {}

    void add(nb::handle h, std::size_t position) {
        if (!nb::isinstance<BaseExpr>(h)) {
            throw zorv::type_error(std::string(builder_) + ": operand " + std::to_string(position) +
                                   " is not a Boolean expression (got " + python_type(h) + ")");
        }
        const BaseExpr& e = ready_node(h, std::string(builder_) + ": operand " + std::to_string(position));
        if (!e.is_constant()) {
            if (!first_) first_ = &e.ctx;
            if (e.ctx->has_variables()) {
                if (!ctx_) {
                    ctx_ = &e.ctx;
                } else if (*ctx_ != e.ctx) {
                    throw zorv::type_error(std::string(builder_) +
                                           ": operands belong to different Boolean contexts");
                }
            }
        }
        ids_.push_back(e.id);
        arenas_.push_back(e.ctx.get());
    }

    void add_list(nb::handle seq) {
        if (!nb::isinstance<nb::list>(seq)) {
            throw zorv::type_error(std::string(builder_) + " expects a list of Boolean expressions (got " +
                                   python_type(seq) + ")");
        }
        const auto n = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.ptr()));
        PyObject** items = PySequence_Fast_ITEMS(seq.ptr());
        for (std::size_t i = 0; i < n; ++i) add(items[i], i);
    }

    // Applies `build` to the operands in their one context and wraps the result.
    template <class Build>
    nb::object apply(Build&& build) {
        std::shared_ptr<Arena> arena = ctx_ ? *ctx_ : first_ ? *first_ : std::make_shared<Arena>();
        for (std::size_t i = 0; i < ids_.size(); ++i) {
            if (arenas_[i] && arenas_[i] != arena.get()) ids_[i] = arena->import_ground(*arenas_[i], ids_[i]);
        }
        return wrap(arena, build(*arena, std::span<const NodeId>(ids_)));
    }

private:
    const char* builder_;
    // The caller's operands keep these alive for the whole call.
    const std::shared_ptr<Arena>* ctx_ = nullptr;    // the first with variables
    const std::shared_ptr<Arena>* first_ = nullptr;  // the first of any operator
    zorv::bxpr::SmallVec<NodeId, 8> ids_;
    zorv::bxpr::SmallVec<const Arena*, 8> arenas_;  // null for a constant
};

template <NodeId (*Build)(Arena&, std::span<const NodeId>)>
nb::object list_builder(const char* name, nb::handle list) {
    Operands ops(name);
    ops.add_list(list);
    return ops.apply(Build);
}

std::string text(const BaseExpr& e) {
    if (e.is_constant()) return e.id == Arena::one ? "1" : "0";
    return zorv::bxpr::to_text(*e.ctx, e.id, text_limit);
}

bool same_node(const BaseExpr& a, const BaseExpr& b) { return a.id == b.id && a.ctx == b.ctx; }

nb::object tseytin(const BaseExpr& e, const Context& c, std::string_view prefix) {
    if (e.is_constant()) return wrap(nullptr, e.id);
    if (e.ctx != c.arena && e.ctx->has_variables()) {
        throw zorv::type_error("tseytin: the expression belongs to another Boolean context");
    }
    if (zorv::bxpr::is_clause_form(*e.ctx, e.id)) return wrap(e.ctx, e.id);
    // A formula without variables may come from anywhere: copy it in.
    const NodeId root = e.ctx == c.arena ? e.id : c.arena->import_ground(*e.ctx, e.id);
    return wrap(c.arena, zorv::bxpr::tseytin(*c.arena, root, prefix));
}

// The Boolean variables of pseudo-Boolean variable numbers, as the model's manager gives them:
// found in `known` (number -> variable), or made by `literal_of(number)`, which also enters
// them in `known`. Every node must belong to one context.
class pb_literals {
public:
    pb_literals(nb::dict known, nb::handle literal_of) : known_(std::move(known)), literal_of_(literal_of) {}

    // Also the variables of `runs` (a list of variable runs, or None), which `known` does not hold.
    pb_literals(nb::dict known, nb::handle literal_of, nb::handle runs) : pb_literals(std::move(known), literal_of) {
        if (runs.is_none()) return;
        if (!PyList_CheckExact(runs.ptr())) throw zorv::type_error("runs must be a list of variable runs");
        // Each held, so that a run dropped from the list during a call stays valid here.
        for (nb::handle run : nb::borrow<nb::list>(runs)) runs_.emplace_back(nb::borrow(run), &nb::cast<const VariableRun&>(run));
    }

    NodeId get(std::int64_t number) {
        if (const auto found = find(number)) return *found;
        return add(literal_of_(number), number);
    }

    // The node of `number` in `known`, if it is there.
    std::optional<NodeId> find(std::int64_t number) {
        for (const auto& [held, run] : runs_) {
            if (const NodeId* id = run->find(number)) return take(run->arena, *id);
        }
        nb::object key = nb::steal(PyLong_FromLongLong(number));
        if (!key.is_valid()) throw nb::python_error();
        PyObject* found = PyDict_GetItemWithError(known_.ptr(), key.ptr());
        if (found == nullptr) {
            if (PyErr_Occurred()) throw nb::python_error();
            return std::nullopt;
        }
        return add(found, number);
    }

    // The node of `node`, the variable of `number`, checked.
    NodeId add(nb::handle node, std::int64_t number) {
        if (!nb::isinstance<BaseExpr>(node)) {
            throw zorv::type_error(std::string("the variable of number ") + std::to_string(number) +
                                   " is not a Boolean expression (got " + python_type(node) + ")");
        }
        const BaseExpr& e = nb::cast<const BaseExpr&>(node);
        return take(e.ctx, e.id);
    }

    // `id` of context `ctx` (none for a constant), checked against the context of the others.
    NodeId take(const std::shared_ptr<Arena>& ctx, NodeId id) {
        if (ctx) {
            if (!ctx_) {
                ctx_ = ctx;
            } else if (ctx_ != ctx) {
                throw zorv::type_error("the variables of a comparison belong to different Boolean contexts");
            }
        }
        return id;
    }

    // The context of the variables met, or a fresh one while there was none.
    std::shared_ptr<Arena> arena() {
        if (!ctx_) ctx_ = std::make_shared<Arena>();
        return ctx_;
    }

private:
    nb::dict known_;
    nb::handle literal_of_;
    std::vector<std::pair<nb::object, const VariableRun*>> runs_;
    std::shared_ptr<Arena> ctx_;
};

// The circuit of a pseudo-Boolean comparison (see pbcircuit/comparison_circuit.hpp). Numbers
// whose coefficients cancel are never looked up.
nb::object pb_circuit(const zorv::pbct::PBConstraint& constraint, nb::dict known, nb::handle literal_of,
                      nb::handle runs) {
    using zorv::pbct::i128;
    pb_literals nodes(std::move(known), literal_of, runs);
    std::vector<std::pair<NodeId, i128>> looked_up;
    for (const auto& [number, coefficient] : zorv::pbcircuit::merge_terms(constraint.literals)) {
        if (coefficient != 0) looked_up.emplace_back(nodes.get(number), coefficient);
    }
    // Negated once every lookup has settled the context.
    const std::shared_ptr<Arena> arena = nodes.arena();
    return wrap(arena,
                zorv::pbcircuit::weighted_comparison(*arena, looked_up, constraint.comparator, constraint.bound));
}

// The conjunction (and_s) of one disjunction (or_s) per clause of `database`, a positive literal
// standing for its number's variable and a negative one for the negation of it. A number not in
// `known` gets its variable from `new_variables`, called once with every such number in order of
// first occurrence, which returns their variables in that order.
nb::object clauses_formula(const zorv::pbct::VectorClauseDatabase& database, nb::dict known,
                           nb::handle new_variables, nb::handle runs) {
    pb_literals nodes(known, nb::none(), runs);
    std::unordered_map<std::int64_t, NodeId> variables;
    std::vector<std::int64_t> fresh;
    for (std::size_t i = 0; i < database.size(); ++i) {
        for (const std::int64_t lit : database.clause(i)) {
            if (lit == std::numeric_limits<std::int64_t>::min()) {
                throw zorv::value_error("a clause literal is out of range");
            }
            const std::int64_t number = lit > 0 ? lit : -lit;
            if (variables.count(number) != 0) continue;
            const auto found = nodes.find(number);
            variables.emplace(number, found ? *found : zorv::bxpr::no_node);
            if (!found) fresh.push_back(number);
        }
    }
    if (!fresh.empty()) {
        nb::object made = new_variables(nb::cast(fresh));
        if (!nb::isinstance<nb::list>(made) || nb::len(made) != fresh.size()) {
            throw zorv::type_error("new variables must come as a list, one per number");
        }
        const auto list = nb::borrow<nb::list>(made);
        for (std::size_t i = 0; i < fresh.size(); ++i) variables[fresh[i]] = nodes.add(list[i], fresh[i]);
    }
    const std::shared_ptr<Arena> arena = nodes.arena();
    std::vector<NodeId> clauses;
    clauses.reserve(database.size());
    std::vector<NodeId> literals;
    for (std::size_t i = 0; i < database.size(); ++i) {
        literals.clear();
        for (const std::int64_t lit : database.clause(i)) {
            const NodeId v = variables.at(lit > 0 ? lit : -lit);
            literals.push_back(lit > 0 ? v : arena->negate(v));
        }
        clauses.push_back(zorv::bxpr::or_s(*arena, literals));
    }
    return wrap(arena, zorv::bxpr::and_s(*arena, clauses));
}

// A soft objective's unit literals: per (number, coefficient) item, in order, the variable of the
// number, negated where its truth would worsen the objective (a positive coefficient when
// minimising, any other when maximising), and the coefficient's absolute value as its weight.
// (and_ of the literals, weights), or None, with nothing looked up, unless there are items and
// each is a pair of ints that fit 64 bits with a coefficient whose absolute value does too.
nb::object maxsat_literals(nb::handle items, bool minimization, nb::dict known, nb::handle literal_of,
                          nb::handle runs) {
    if (!PyList_CheckExact(items.ptr()) || PyList_GET_SIZE(items.ptr()) == 0) return nb::none();
    std::vector<std::pair<std::int64_t, std::int64_t>> pairs;
    pairs.reserve(static_cast<std::size_t>(PyList_GET_SIZE(items.ptr())));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.ptr()); ++i) {
        PyObject* item = PyList_GET_ITEM(items.ptr(), i);
        if (!PyTuple_CheckExact(item) || PyTuple_GET_SIZE(item) != 2) return nb::none();
        std::int64_t values[2];
        for (int k = 0; k < 2; ++k) {
            PyObject* v = PyTuple_GET_ITEM(item, k);
            int overflow = 0;
            values[k] = PyLong_CheckExact(v) ? PyLong_AsLongLongAndOverflow(v, &overflow) : 0;
            if (!PyLong_CheckExact(v) || overflow != 0) return nb::none();
        }
        if (values[1] == std::numeric_limits<std::int64_t>::min()) return nb::none();
        pairs.emplace_back(values[0], values[1]);
    }
    pb_literals nodes(std::move(known), literal_of, runs);
    std::vector<NodeId> literals;
    literals.reserve(pairs.size());
    const nb::list weights = zorv::py::new_list();
    for (const auto& [number, coefficient] : pairs) {
        zorv::py::append(weights, zorv::py::integer(coefficient < 0 ? -coefficient : coefficient));
        literals.push_back(nodes.get(number));
    }
    const std::shared_ptr<Arena> arena = nodes.arena();
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const bool negate = pairs[i].second > 0 ? minimization : !minimization;
        if (negate) literals[i] = arena->negate(literals[i]);
    }
    return nb::make_tuple(wrap(arena, zorv::bxpr::and_(*arena, literals)), weights);
}

// The container's clause template of a formula in clause form (see inst/clause_texts.hpp): a list
// of lists of str, one str object per distinct literal.
nb::list clause_texts(const BaseExpr& e) {
    if (e.is_constant()) {
        const nb::list clause = zorv::py::new_list();
        zorv::py::append(clause, zorv::py::text(e.id == Arena::one ? "'1'" : "'0'"));
        const nb::list out = zorv::py::new_list();
        zorv::py::append(out, clause);
        return out;
    }
    const zorv::inst::clause_template tmpl = zorv::inst::clause_texts(*e.ctx, e.id, text_limit);
    std::vector<nb::object> texts;
    texts.reserve(tmpl.texts.size());
    for (const std::string& text : tmpl.texts) {
        PyObject* str = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
        if (str == nullptr) throw nb::python_error();
        texts.push_back(nb::steal(str));
    }
    // The lists hold no cycle: the collector need not look at them while they are made.
    const gc_pause pause;
    PyObject* out = PyList_New(static_cast<Py_ssize_t>(tmpl.ends.size()));
    if (out == nullptr) throw nb::python_error();
    nb::list result = nb::steal<nb::list>(out);
    std::size_t begin = 0;
    for (std::size_t c = 0; c < tmpl.ends.size(); ++c) {
        PyObject* clause = PyList_New(static_cast<Py_ssize_t>(tmpl.ends[c] - begin));
        if (clause == nullptr) throw nb::python_error();
        for (std::size_t k = begin; k < tmpl.ends[c]; ++k) {
            PyObject* text = texts[tmpl.literals[k]].ptr();
            Py_INCREF(text);
            PyList_SET_ITEM(clause, static_cast<Py_ssize_t>(k - begin), text);
        }
        PyList_SET_ITEM(out, static_cast<Py_ssize_t>(c), clause);
        begin = tmpl.ends[c];
    }
    return result;
}

template <class T>
void bind_node(nb::module_& m, const char* name, const char* doc) {
    nb::class_<T, BaseExpr>(m, name, doc);
}

}  // namespace

void bind_bxpr(nb::module_& m) {
    nb::class_<Context>(m, "Context", "A set of Boolean variables and the expressions over them.")
        .def(nb::init<>())
        .def(
            "get_var",
            [](const Context& c, std::string_view name) { return wrap(c.arena, c.arena->variable(name)); },
            nb::arg("name"), "The variable called `name` (any text); one name gives one variable.")
        .def(
            "_get_vars",
            [](const Context& c, nb::handle names) {
                const std::vector<NodeId> ids = variable_ids(c, names, "_get_vars");
                return wrapped(c.arena, ids);
            },
            nb::arg("names"), "get_var of each name of a list, as a list.")
        .def(
            "_variables",
            [](const Context& c, std::string_view prefix, std::size_t first, std::size_t count) {
                std::vector<NodeId> ids;
                c.arena->make_variables(prefix, first, count, ids);
                return wrapped(c.arena, ids);
            },
            nb::arg("prefix"), nb::arg("first"), nb::arg("count"),
            "The variables prefix_first, ..., prefix_(first + count - 1), as get_var gives them.")
        .def(
            "_variable_run",
            [](const Context& c, std::int64_t first, nb::handle names) {
                std::vector<NodeId> ids = variable_ids(c, names, "_variable_run");
                if (!ids.empty() && first > std::numeric_limits<std::int64_t>::max() - static_cast<std::int64_t>(ids.size())) {
                    throw zorv::value_error("the numbers of a variable run exceed 64 bits");
                }
                return VariableRun{c.arena, first, std::move(ids)};
            },
            nb::arg("first"), nb::arg("names"),
            "get_var of each name of a list, for the numbers first, first + 1, ..., held without a\n"
            "Python object per variable.");

    nb::class_<VariableRun>(m, "_VariableRun", "Variables of consecutive numbers, made at once.")
        .def_ro("first", &VariableRun::first, "The number of the first variable.")
        .def("__len__", [](const VariableRun& run) { return run.ids.size(); })
        .def(
            "variables",
            [](const VariableRun& run) {
                return wrapped(run.arena, run.ids);
            },
            "The variables, as get_var gives them, in order.");

    nb::class_<BaseExpr>(m, "BaseExpr", "A Boolean expression of one context.")
        .def("get_args",
             [](const BaseExpr& e) {
                 if (e.is_constant()) return zorv::py::new_list();
                 // Filled in place: a clause form can have millions of operands.
                 return wrapped(e.ctx, e.ctx->args(e.id));
             },
             "The operands, in the order given.")
        .def("support",
             [](const BaseExpr& e) {
                 const nb::set out = zorv::py::new_set();
                 if (e.is_constant()) return out;
                 for (const NodeId v : zorv::bxpr::support(*e.ctx, e.id)) zorv::py::add(out, wrap(e.ctx, v));
                 return out;
             },
             "The set of variables the expression mentions.")
        .def("tseytin", &tseytin, nb::arg("context"), nb::arg("prefix"),
             "Clause form with auxiliaries named prefix_0, prefix_1, ... made in `context`; later\n"
             "calls with the same prefix in that context go on numbering where the last one stopped.")
        .def("__invert__",
             [](const BaseExpr& e) {
                 if (e.is_constant()) return wrap(nullptr, e.id == Arena::one ? Arena::zero : Arena::one);
                 return wrap(e.ctx, e.ctx->negate(e.id));
             })
        .def("__str__", &text)
        .def("__repr__", &text)
        .def("__hash__", [](const BaseExpr& e) { return static_cast<std::size_t>(e.id); })
        .def("__eq__",
             [](const BaseExpr& a, nb::handle b) -> nb::object {
                 if (!nb::isinstance<BaseExpr>(b)) return nb::borrow(Py_NotImplemented);
                 return nb::bool_(same_node(a, ready_node(b, "the compared operand")));
             })
        .def("__ne__", [](const BaseExpr& a, nb::handle b) -> nb::object {
            if (!nb::isinstance<BaseExpr>(b)) return nb::borrow(Py_NotImplemented);
            return nb::bool_(!same_node(a, ready_node(b, "the compared operand")));
        });

    bind_node<Zero>(m, "Zero", "The constant false.");
    bind_node<One>(m, "One", "The constant true.");
    bind_node<Variable>(m, "Variable", "A named variable; its text is its name.");
    bind_node<Complement>(m, "Complement", "A negated variable; its text is '~' and the name.");
    bind_node<Not>(m, "Not", "The negation of an operator node.");
    bind_node<And>(m, "And", "Conjunction.");
    bind_node<Or>(m, "Or", "Disjunction.");
    bind_node<Xor>(m, "Xor", "Odd parity.");
    bind_node<Equal>(m, "Equal", "All operands equal.");
    bind_node<Implies>(m, "Implies", "Premise implies conclusion.");
    bind_node<IfThenElse>(m, "IfThenElse", "Condition ? then : else.");

    m.def("one", [] { return wrap(nullptr, Arena::one); }, "The constant true.");
    m.def("zero", [] { return wrap(nullptr, Arena::zero); }, "The constant false.");
    m.def("and_s", [](nb::handle ops) { return list_builder<zorv::bxpr::and_s>("and_s", ops); },
          nb::arg("operands"), "Simplified conjunction of a list.");
    m.def("or_s", [](nb::handle ops) { return list_builder<zorv::bxpr::or_s>("or_s", ops); },
          nb::arg("operands"), "Simplified disjunction of a list.");
    m.def("xor_s", [](nb::handle ops) { return list_builder<zorv::bxpr::xor_s>("xor_s", ops); },
          nb::arg("operands"), "Simplified odd parity of a list.");
    m.def("eq_s", [](nb::handle ops) { return list_builder<zorv::bxpr::eq_s>("eq_s", ops); },
          nb::arg("operands"), "Simplified 'all operands equal' of a list.");
    m.def("and_", [](nb::handle ops) { return list_builder<zorv::bxpr::and_>("and_", ops); },
          nb::arg("operands"), "Conjunction keeping every operand as given.");
    m.def(
        "impl_s",
        [](nb::handle premise, nb::handle conclusion) {
            Operands ops("impl_s");
            ops.add(premise, 0);
            ops.add(conclusion, 1);
            return ops.apply([](Arena& a, std::span<const NodeId> x) { return zorv::bxpr::impl_s(a, x[0], x[1]); });
        },
        nb::arg("premise"), nb::arg("conclusion"), "Simplified implication.");
    m.def(
        "ite_s",
        [](nb::handle cond, nb::handle then_, nb::handle else_) {
            Operands ops("ite_s");
            ops.add(cond, 0);
            ops.add(then_, 1);
            ops.add(else_, 2);
            return ops.apply(
                [](Arena& a, std::span<const NodeId> x) { return zorv::bxpr::ite_s(a, x[0], x[1], x[2]); });
        },
        nb::arg("cond"), nb::arg("then_"), nb::arg("else_"), "Simplified if-then-else.");

    m.def("pb_circuit", &pb_circuit, nb::arg("constraint"), nb::arg("known"), nb::arg("literal_of"),
          nb::arg("runs") = nb::none(),
          "The comparison of a PBConstraint as a circuit over its variables, found in `runs` or `known`\n"
          "or made by `literal_of(number)`.");
    m.def("clauses_formula", &clauses_formula, nb::arg("database"), nb::arg("known"), nb::arg("new_variables"),
          nb::arg("runs") = nb::none(),
          "and_s of one or_s per clause of a VectorClauseDatabase, over variables found in `runs` or\n"
          "`known` or made by one call of `new_variables(numbers)` for the others.");
    m.def("clause_texts", &clause_texts, nb::arg("formula"),
          "Per clause of a formula in clause form, its literal texts as clause templates hold them.");
    m.def("maxsat_literals", &maxsat_literals, nb::arg("items"), nb::arg("minimization"), nb::arg("known"),
          nb::arg("literal_of"), nb::arg("runs") = nb::none(),
          "A soft objective's unit literals and weights from its (number, coefficient) items, over\n"
          "variables found in `runs` or `known` or made by `literal_of(number)`; None for items it does\n"
          "not take.");
}
