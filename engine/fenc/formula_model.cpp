#include "fenc/formula_model.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <utility>
#include <string_view>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "common/process_memory.hpp"
#include "common/work_plan.hpp"
#include "fenc/planned_work.hpp"
#include "inst/variable_keys.hpp"

namespace zorv::fenc {

namespace {

// work(), its error about the values of the text of `c` naming that text.
template <class Work>
auto naming(const constraint& c, Work&& work) {
    try {
        return work();
    } catch (const value_error& e) {
        throw value_error("constraint " + quoted(c.text) + ": " + e.what());
    } catch (const index_error& e) {
        throw index_error("constraint " + quoted(c.text) + ": " + e.what());
    } catch (const limit_error& e) {
        throw limit_error("constraint " + quoted(c.text) + ": " + e.what());
    }
}

// Why the instances of `c` ran out of memory, having written `clauses` clauses of `literals`
// literals in the auxiliary runs `written`: what all of them take at that rate, against what the
// build could get.
std::string out_of_memory(const constraint& c, std::uint64_t clauses, std::uint64_t literals,
                          const std::vector<aux_run>& written, const memory_limit& room) {
    std::uint64_t done = 0, aux = 0;
    for (const aux_run& run : written) {
        done += run.instances;
        aux += run.instances * (static_cast<std::uint64_t>(run.aux.pb) + run.aux.bx);
    }
    const std::uint64_t instances = c.foralls.instance_count();
    std::string text = constraint_subject(c.text, foralls_of(c.foralls_text)) + ": ran out of memory after writing ";
    instance_output each = least_instance_output(c);
    if (done == 0 || c.kind != constraint_kind::hard) {
        text += std::to_string(clauses) + " of its clauses";
    } else {
        text += std::to_string(done) + " of its " + std::to_string(instances) + " instances (" +
                std::to_string(clauses) + " clauses)";
        // Instances as large as those written, where that is more than the least planned.
        each.clauses = std::max(each.clauses, clauses / done);
        each.literals = std::max(each.literals, literals / done);
        each.variables = std::max(each.variables, aux / done);
    }
    const planned_work all = plan_instances(instances, each);
    return text + "; all its instances take at least " + bytes_text(all.bytes) + " for " + count_text(all.clauses) +
           " clauses, and the build could get " + limit_text(room);
}

}  // namespace

formula_model::formula_model() {
    // As the container road's encoder: a larger single encoding is refused.
    config_.set_max_clauses_per_constraint(1000000);
}

void formula_model::add(constraint& c) {
    // Its compiled names are places in the catalog it was read against: any other catalog, or
    // this one after clear(), would read them out of bounds.
    if (c.catalog_stamp == 0) {
        throw value_error("this constraint has already been added to a model: read it again");
    }
    if (c.catalog_stamp != variables_.stamp()) {
        throw value_error("this constraint was read on another model, or before the model was cleared: read it "
                          "again on this model");
    }
    // Refused before any of its work is done, and before the model takes it.
    const planned_work work = plan_instances(c.foralls.instance_count(), least_instance_output(c));
    std::string refusal = loop_refusal(c, variables_, instance_work(config_));
    // A build writes every constraint anew into one storage, whose arrays, reserved for each
    // constraint in turn, are copied with the clauses before it.
    const std::uint64_t copied = work.bytes > 0 ? saturating_product(planned_bytes_, 2) : 0;
    if (refusal.empty()) refusal = work_refusal(work, planned_clauses_, copied);
    if (!refusal.empty()) throw value_error(constraint_subject(c.text, foralls_of(c.foralls_text)) + ": " + refusal);
    // Evaluated now: the soft weights of all instances, summed, past what a file's top holds would
    // leave a model that could never be built; a target, never encoded, must refer to cells that a
    // witness has.
    std::uint64_t soft = 0;
    if (c.kind != constraint_kind::hard) {
        const std::uint64_t sum = naming(c, [&] { return soft_weight_sum(c, variables_, config_); });
        if (c.kind == constraint_kind::soft) soft = sum;
    }
    naming(c, [&] { cnf::check_weight_room(soft_total_, soft); });
    if (c.kind == constraint_kind::hard) {
        naming(c, [&] {
            check_cells(c, variables_, instance_work(config_));
            // A row that no build could write would fail every build after.
            check_rows(c, variables_, config_);
        });
    }
    c.catalog_stamp = 0;
    planned_clauses_ += work.clauses;
    soft_total_ += soft;
    planned_bytes_ = saturating_sum(planned_bytes_, work.bytes);
    add_read(std::move(c));
}

void formula_model::add_read(constraint c) {
    if (c.kind == constraint_kind::target) {
        target_ = std::move(c);
    } else {
        constraints_.push_back(std::move(c));
    }
}

std::vector<constraint_stats> formula_model::generate(cnf::wcnf_storage& out, const std::string& name) {
    std::vector<constraint_stats> stats;
    std::vector<std::vector<aux_run>> aux(constraints_.size());
    std::vector<std::int64_t> aux_start(constraints_.size(), 0);
    std::int64_t next_aux = variables_.cell_count() + 1;
    std::uint64_t soft_total = 0;
    // What the process could get before the build took any of it, for a build that runs out.
    const memory_limit room = process_memory_limit();
    for (std::size_t f = 0; f < constraints_.size(); ++f) {
        const constraint& c = constraints_[f];
        const auto started = std::chrono::steady_clock::now();
        const std::size_t clauses_before = out.clause_count();
        const std::size_t literals_before = out.literals().size();
        aux_start[f] = next_aux;
        constraint_stats s;
        s.instances = c.foralls.instance_count();
        try {
            naming(c, [&] {
                if (c.kind == constraint_kind::hard) {
                    s.contradictions = encode_hard(c, variables_, config_, out, next_aux, aux[f]);
                } else {
                    soft_total += encode_soft(c, variables_, config_, out);
                }
            });
        } catch (const std::bad_alloc&) {
            throw memory_error(out_of_memory(c, out.clause_count() - clauses_before,
                                             out.literals().size() - literals_before, aux[f], room));
        }
        s.clauses = out.clause_count() - clauses_before;
        s.aux = static_cast<std::uint64_t>(next_aux - aux_start[f]);
        s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        stats.push_back(s);
    }
    out.set_model_name(name);
    out.set_variable_count(next_aux - 1);
    out.set_clause_count(static_cast<std::int64_t>(out.clause_count()));
    if (soft_total > 0) out.set_weight_limit(static_cast<std::int64_t>(soft_total + 1));
    aux_ = std::move(aux);
    aux_start_ = std::move(aux_start);
    variable_count_ = next_aux - 1;
    clause_variables_ = out.max_variable_in_clauses();
    generated_cells_ = variables_.cell_count();
    generated_ = true;
    return stats;
}

namespace {

std::size_t digits(std::uint64_t value) {
    std::size_t n = 1;
    for (; value >= 10; value /= 10) ++n;
    return n;
}

// The element keys of a declared variable.
inst::variable_key_block key_block(const declared_variable& d) { return {d.name, d.start, d.sizes, d.strides}; }

}  // namespace

std::pair<std::size_t, std::size_t> formula_model::mapping_room() const {
    std::size_t entries = 0, bytes = 0;
    for (std::size_t v = 0; v < variables_.size(); ++v) {
        const declared_variable& d = variables_.at(static_cast<std::uint32_t>(v));
        entries += static_cast<std::size_t>(d.count);
        bytes += static_cast<std::size_t>(inst::text_size(key_block(d)));
    }
    if (generated_ && variables_.cell_count() == generated_cells_) {
        // _pbct_aux[f,n,k]: every number below its bound
        const auto aux = static_cast<std::size_t>(variable_count_ - generated_cells_);
        std::uint64_t instances = 1, per_instance = 1;
        for (const auto& runs : aux_) {
            std::uint64_t n = 0;
            for (const aux_run& run : runs) {
                n += run.instances;
                per_instance = std::max<std::uint64_t>(per_instance, run.aux.pb + run.aux.bx);
            }
            instances = std::max(instances, n);
        }
        entries += aux;
        bytes += aux * (sizeof "_pbct_aux[,,]" - 1 + digits(aux_.size()) + digits(instances) + digits(per_instance));
    }
    return {entries, bytes};
}

void formula_model::fill_mapping(cnf::var_mapping& out) const {
    out.clear();
    const auto [entries, bytes] = mapping_room();
    named_out_of_memory([&] { write_mapping(out, entries, bytes); },
                        [&] {
                            out = cnf::var_mapping();  // its memory back before the room is measured
                            return "building the variable mapping of " + std::to_string(entries) + " entries";
                        });
}

void formula_model::write_mapping(cnf::var_mapping& out, std::size_t entries, std::size_t bytes) const {
    // Made room for at once: arrays that double copy all they hold without a Ctrl-C check.
    out.reserve(entries, bytes);
    interrupt_gate gate;
    for (std::size_t v = 0; v < variables_.size(); ++v) {
        const inst::variable_key_block keys = key_block(variables_.at(static_cast<std::uint32_t>(v)));
        inst::for_each_key(keys, [&](std::string_view key, std::int64_t number) {
            gate.tick();
            out.add(key, number);
        });
    }
    if (!generated_ || variables_.cell_count() != generated_cells_) return;
    for (std::size_t f = 0; f < aux_.size(); ++f) {
        std::int64_t base = aux_start_[f];
        const std::string formula = std::to_string(f);
        std::uint64_t n = 0;
        for (const aux_run& run : aux_[f]) {
            const instance_aux& a = run.aux;
            if (a.pb + a.bx == 0) {
                n += run.instances;
                continue;
            }
            for (const std::uint64_t end = n + run.instances; n < end; ++n) {
                const std::string middle = formula + "," + std::to_string(n) + ",";
                gate.tick(a.pb + a.bx);
                for (std::uint32_t k = 0; k < a.pb; ++k) {
                    out.add("_pbct_aux[" + middle + std::to_string(k) + "]", base + k);
                }
                for (std::uint32_t k = 0; k < a.bx; ++k) {
                    out.add("_bxpr_aux[" + middle + std::to_string(k) + "]", base + a.pb + k);
                }
                base += a.pb + a.bx;
            }
        }
    }
}

std::vector<std::uint8_t> formula_model::read_witness(const std::vector<std::int64_t>& model) const {
    const std::int64_t needed = clause_variables_;
    if (!generated_) throw value_error("no CNF generated yet: call generate_cnf() before setting a witness");
    const auto length = static_cast<std::int64_t>(model.size());
    if (length < needed || length > variable_count_) {
        throw value_error("a witness of " + std::to_string(length) + " values does not fit a formula of " +
                          std::to_string(variable_count_) + " variables (" + std::to_string(needed) +
                          " of them in clauses)");
    }
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(variable_count_), 0);
    std::vector<std::uint8_t> cells(static_cast<std::size_t>(variables_.cell_count()), 0);
    for (const std::int64_t lit : model) {
        const bool named = lit != 0 && lit != std::numeric_limits<std::int64_t>::min();
        const std::int64_t var = lit < 0 && named ? -lit : lit;
        if (!named || var > variable_count_) {
            throw value_error("witness value " + std::to_string(lit) + " names no variable of the formula");
        }
        if (seen[static_cast<std::size_t>(var - 1)]++) {
            throw value_error("witness gives variable " + std::to_string(var) + " twice");
        }
        if (var <= variables_.cell_count()) cells[static_cast<std::size_t>(var - 1)] = lit > 0;
    }
    return cells;
}

void formula_model::clear() {
    variables_.clear();
    constraints_.clear();
    target_.reset();
    aux_.clear();
    aux_start_.clear();
    variable_count_ = 0;
    clause_variables_ = 0;
    generated_cells_ = 0;
    generated_ = false;
    planned_clauses_ = 0;
    soft_total_ = 0;
    planned_bytes_ = 0;
}

}  // namespace zorv::fenc
