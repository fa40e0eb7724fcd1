#include "fenc/constraint.hpp"

#include "common/errors.hpp"
#include "fenc/read_error.hpp"

namespace zorv::fenc {

std::string quoted(std::string_view text) {
    constexpr std::size_t limit = 200;
    std::string out = "'";
    for (const char c : text.substr(0, limit)) {
        // A message ends at its first NUL: the position after it would be lost.
        if (c == '\0') {
            out += "\\x00";
        } else {
            out += c;
        }
    }
    out += text.size() > limit ? "...'" : "'";
    return out;
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
            for (const auto& name : out.foralls.names) {
                if (variables.find(name.name)) {
                    throw read_error("forall " + name.name + " has the name of a declared variable", name.offset);
                }
            }
        } catch (const read_error& e) {
            throw value_error("cannot read the foralls " + quoted(foralls_text) + " of constraint " + quoted(text) +
                              ": " + e.what() + " at position " +
                              std::to_string(char_position(foralls_text, e.offset)));
        } catch (const limit_error& e) {
            throw limit_error("cannot take the foralls " + quoted(foralls_text) + " of constraint " + quoted(text) +
                              ": " + e.what());
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
