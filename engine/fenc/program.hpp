#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pbct/comparator.hpp"

// The compiled form of one constraint text: typed nodes (integers, value sources, cells,
// pseudo-Boolean terms, Boolean formulas) that refer to each other by index. Index names live
// in numbered slots: the foralls first, then every comprehension loop.
namespace zorv::fenc {

enum class int_op : std::uint8_t { constant, slot, sum, product, power, negate };
struct int_node {
    int_op op = int_op::constant;
    std::int64_t value = 0;            // constant; slot number for slot
    std::vector<std::uint32_t> kids;   // operands
    std::string signs;                 // sum: '+' or '-' per operand
    std::size_t offset = 0;
};

// range(start, stop, step) or listed values; both hold integer nodes.
struct source_node {
    bool is_range = false;
    std::vector<std::uint32_t> args;
    std::size_t offset = 0;
};

struct loop {
    std::uint32_t slot = 0;
    std::uint32_t source = 0;
};

struct cell_node {
    std::uint32_t variable = 0;
    std::vector<std::uint32_t> indexes;  // integer nodes
    std::size_t offset = 0;
};

enum class term_op : std::uint8_t { cell, sum, scale, collect };
struct term_node {
    term_op op = term_op::cell;
    std::uint32_t a = 0;  // cell: cell node; scale: integer factor; collect with loops: body
    std::uint32_t b = 0;  // scale: the scaled term
    std::vector<std::uint32_t> kids;  // sum, collect without loops
    std::string signs;                // sum
    std::vector<loop> loops;          // collect over a comprehension
    std::size_t offset = 0;
};

enum class bool_op : std::uint8_t { cell, one, zero, negate, and_, or_, xor_, eq_, implies, ite, compare };
struct bool_node {
    bool_op op = bool_op::one;
    std::uint32_t a = 0, b = 0, c = 0;  // operands; cell: cell node; compare: term, bound
    std::vector<std::uint32_t> kids;    // listed operands of and_ ... eq_
    std::vector<loop> loops;            // comprehension operands of and_ ... eq_, body in a
    pbct::Comparator comparator = pbct::Comparator::LEQ;
    std::size_t offset = 0;
};

// A name the text introduces (a loop name) or a forall name, for the name rule.
struct introduced_name {
    std::string name;
    std::size_t offset = 0;
};

struct program {
    std::vector<int_node> ints;
    std::vector<source_node> sources;
    std::vector<cell_node> cells;
    std::vector<term_node> terms;
    std::vector<bool_node> bools;
    std::uint32_t root = 0;       // into bools, or into terms for a pseudo-Boolean text
    bool root_is_term = false;
    std::uint32_t slots = 0;
    std::vector<introduced_name> names;
};

}  // namespace zorv::fenc
