#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The container road evaluates its texts with the host's evaluator. Before any of a text runs it
// is read here with the formula encoder's reader, and held against what the package's own texts
// use: their node kinds, the names in scope, the attributes they read, and numbers as constants.
// Whatever else a text holds is refused, so that nothing outside that language reaches the host.
namespace zorv::inst {

// What a name of a text stands for where the text is evaluated.
enum class name_role : std::uint8_t {
    unknown,   // not in scope
    variable,  // a declared variable, called with index values
    value,     // an index or a forall: an integer once evaluated
};

// Which texts are read: a constraint, soft objective or target (the model's first evaluation),
// or the comprehension that instantiates a clause template over its foralls.
enum class text_kind : std::uint8_t { expression, instantiation };

struct text_scope {
    text_kind kind = text_kind::expression;
    // The role of a name that the text neither binds in a loop nor reserves.
    std::function<name_role(std::string_view)> role;
    // Whether a name of characters beyond ASCII may be a loop's name (the host normalises such
    // names, which the caller judges).
    std::function<bool(std::string_view)> wide_name_ok;
};

// What is wrong with a text, at a byte offset.
struct text_fault {
    std::string what;
    std::size_t offset = 0;
};

// Why `text` may not be evaluated, or nullopt when it may.
std::optional<text_fault> check_text(std::string_view text, const text_scope& scope);

// The refusal of a text, worded as the formula encoder refuses a text outside its language.
std::string text_refusal(std::string_view text, const text_fault& fault);

}  // namespace zorv::inst
