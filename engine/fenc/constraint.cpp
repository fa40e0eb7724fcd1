#include "fenc/constraint.hpp"

#include "common/errors.hpp"
#include "common/work_plan.hpp"
#include "fenc/read_error.hpp"
#include "fenc/syntax.hpp"

namespace zorv::fenc {

std::string_view foralls_of(std::string_view foralls_text) {
    constexpr std::string_view head = "Foralls: ";
    return foralls_text.substr(0, head.size()) == head ? foralls_text.substr(head.size()) : foralls_text;
}

std::size_t char_position(std::string_view text, std::size_t offset) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++chars;
    }
    return chars;
}

constraint read_constraint(std::string_view text, std::string_view foralls_text, constraint_kind kind,
                           const catalog& variables) {
    constraint out;
    out.catalog_stamp = variables.stamp();
    out.text = std::string(text);
    out.foralls_text = std::string(foralls_text);
    out.kind = kind;
    if (kind != constraint_kind::target) {
        try {
            out.foralls = read_foralls(foralls_text);
            if (out.foralls.names.size() > static_cast<std::size_t>(max_depth)) {
                throw read_error(too_deep, out.foralls.names[max_depth].offset);
            }
            for (const auto& name : out.foralls.names) {
                if (variables.find(name.name)) {
                    throw read_error("forall " + name.name + " has the name of a declared variable", name.offset);
                }
            }
        } catch (const read_error& e) {
            throw value_error("cannot read the foralls " + quoted(foralls_text) + " of constraint " + quoted(text) +
                              ": " + e.what() + " at position " +
                              std::to_string(char_position(foralls_text, e.offset)));
        }
        const std::uint64_t instances = out.foralls.combinations();
        if (instances > max_instances) {
            throw value_error(constraint_subject(text, foralls_of(foralls_text)) + ": would take " +
                              count_text(instances) + " instances, more than the " +
                              std::to_string(max_instances) + " that one constraint may take");
        }
    }
    try {
        const text_role role = kind == constraint_kind::hard ? text_role::boolean : text_role::term;
        out.code = compile_text(text, role, variables, out.foralls);
    } catch (const read_error& e) {
        throw value_error("cannot read constraint " + quoted(text) + ": " + e.what() + " at position " +
                          std::to_string(char_position(text, e.offset)));
    } catch (const limit_error& e) {
        throw limit_error("constraint " + quoted(text) + ": " + e.what());
    }
    return out;
}

}  // namespace zorv::fenc
