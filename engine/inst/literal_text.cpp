#include "inst/literal_text.hpp"

#include <array>
#include <limits>

#include "pbct/int128.hpp"

namespace zorv::inst {

namespace {

using pbct::fits64;
using pbct::i128;

// Far beyond 64 bits yet far from overflowing 128 bits under one more sum or product of
// such values; the result must fit 64 bits in the end anyway.
constexpr i128 magnitude_limit = i128{1} << 62 << 30;

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Words the host reads as something other than a name.
bool is_reserved(std::string_view word) {
    static constexpr std::array<std::string_view, 35> words = {
        "False", "None",   "True",    "and",      "as",       "assert", "async", "await", "break",
        "class", "continue", "def",   "del",      "elif",     "else",   "except", "finally", "for",
        "from",  "global", "if",      "import",   "in",       "is",     "lambda", "nonlocal", "not",
        "or",    "pass",   "raise",   "return",   "try",      "while",  "with",  "yield"};
    for (std::string_view w : words) {
        if (w == word) return true;
    }
    return false;
}

struct form {
    bool has_name = false;
    std::string_view name;
    i128 factor = 0;
    i128 offset = 0;
};

// Recursive descent over  sum := product (('+' | '-') product)*,  product := unary ('*' unary)*,
// unary := ('-' | '+') unary | atom,  atom := number | name | '(' sum ')'; every step computes
// the affine form as the host's arithmetic would. Nesting past max_depth (parentheses and signs)
// is left to the host, which keeps the native stack this takes small.
class index_reader {
public:
    explicit index_reader(std::string_view text) : text_(text) {}

    std::optional<form> sum() {
        auto left = product();
        while (left && skip_spaces() && (peek() == '+' || peek() == '-')) {
            const bool minus = text_[at_++] == '-';
            auto right = product();
            if (!right) return std::nullopt;
            left = combine(*left, *right, minus ? -1 : 1);
        }
        return left;
    }

    std::optional<form> product() {
        auto left = unary();
        while (left && skip_spaces() && peek() == '*') {
            ++at_;
            if (peek() == '*') return std::nullopt;  // a power
            auto right = unary();
            if (!right) return std::nullopt;
            left = multiply(*left, *right);
        }
        return left;
    }

    std::optional<form> unary() {
        skip_spaces();
        if (peek() == '-' || peek() == '+') {
            const bool minus = text_[at_++] == '-';
            const level nested(depth_);
            if (depth_ > max_depth) return std::nullopt;
            auto inner = unary();
            if (!inner || !minus) return inner;
            inner->factor = -inner->factor;
            inner->offset = -inner->offset;
            return inner;
        }
        return atom();
    }

    std::optional<form> atom() {
        skip_spaces();
        const char c = peek();
        if (c == '(') {
            ++at_;
            const level nested(depth_);
            if (depth_ > max_depth) return std::nullopt;
            auto inner = sum();
            if (!inner || !skip_spaces() || peek() != ')') return std::nullopt;
            ++at_;
            return inner;
        }
        const std::size_t start = at_;
        if (is_digit(c)) {
            i128 value = 0;
            while (is_digit(peek())) {
                value = value * 10 + (text_[at_++] - '0');
                if (value > magnitude_limit) return std::nullopt;
            }
            // 007, 1_000, 0x10, 1e3, 2j are not plain decimal integers.
            if ((text_[start] == '0' && at_ - start > 1) || is_letter(peek()) || peek() == '.') {
                return std::nullopt;
            }
            return form{false, {}, 0, value};
        }
        if (!is_letter(c)) return std::nullopt;
        while (is_letter(peek()) || is_digit(peek())) ++at_;
        std::string_view word = text_.substr(start, at_ - start);
        if (is_reserved(word)) return std::nullopt;
        return form{true, word, 1, 0};
    }

    bool skip_spaces() {
        while (peek() == ' ') ++at_;
        return true;
    }
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool done() const { return at_ == text_.size(); }

private:
    static constexpr int max_depth = 100;

    // One level of nesting, for as long as it is being read.
    struct level {
        explicit level(int& depth) : depth_(depth) { ++depth_; }
        ~level() { --depth_; }
        level(const level&) = delete;
        level& operator=(const level&) = delete;
        int& depth_;
    };

    static std::optional<form> checked(form f) {
        if (f.factor > magnitude_limit || f.factor < -magnitude_limit || f.offset > magnitude_limit ||
            f.offset < -magnitude_limit) {
            return std::nullopt;
        }
        return f;
    }

    static std::optional<form> combine(const form& a, const form& b, int sign) {
        if (a.has_name && b.has_name && a.name != b.name) return std::nullopt;
        form out = a.has_name ? a : b;
        out.factor = a.factor + sign * b.factor;
        out.offset = a.offset + sign * b.offset;
        return checked(out);
    }

    static std::optional<form> multiply(const form& a, const form& b) {
        if (a.has_name && b.has_name) return std::nullopt;
        constexpr i128 operand_limit = i128{1} << 62;  // keeps the product inside 128 bits
        for (const form* f : {&a, &b}) {
            if (f->factor > operand_limit || f->factor < -operand_limit || f->offset > operand_limit ||
                f->offset < -operand_limit) {
                return std::nullopt;
            }
        }
        const form& constant = a.has_name ? b : a;
        form out = a.has_name ? a : b;
        out.factor = constant.offset * out.factor;
        out.offset = constant.offset * out.offset;
        return checked(out);
    }

    std::string_view text_;
    std::size_t at_ = 0;
    int depth_ = 0;
};

std::optional<literal_text> read_auxiliary(std::string_view text) {
    // '_pbct_aux_3' or '~_bxpr_aux_12'
    if (text.size() < 2 || text.front() != '\'' || text.back() != '\'') return std::nullopt;
    std::string_view body = text.substr(1, text.size() - 2);
    literal_text out;
    out.auxiliary = true;
    if (!body.empty() && body.front() == '~') {
        out.negated = true;
        body.remove_prefix(1);
    }
    if (body.starts_with("_pbct_aux_")) {
        out.pseudo_boolean = true;
    } else if (!body.starts_with("_bxpr_aux_")) {
        return std::nullopt;
    }
    body.remove_prefix(10);
    if (body.empty()) return std::nullopt;
    i128 counter = 0;
    for (char c : body) {
        if (!is_digit(c)) return std::nullopt;
        counter = counter * 10 + (c - '0');
        if (counter > std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    }
    out.counter = static_cast<std::int64_t>(counter);
    return out;
}

}  // namespace

std::optional<literal_text> read_literal(std::string_view text) {
    if (!text.empty() && text.front() == '\'') return read_auxiliary(text);
    literal_text out;
    std::size_t at = 0;
    while (at < text.size() && text[at] == '-') {
        out.negated = !out.negated;
        ++at;
    }
    const std::size_t start = at;
    if (at == text.size() || !is_letter(text[at])) return std::nullopt;
    while (at < text.size() && (is_letter(text[at]) || is_digit(text[at]))) ++at;
    out.name = text.substr(start, at - start);
    if (is_reserved(out.name) || at == text.size() || text[at] != '(' || text.back() != ')') return std::nullopt;
    // The arguments: comma-separated index texts, none of them empty.
    std::string_view arguments = text.substr(at + 1, text.size() - at - 2);
    if (arguments.find_first_not_of(' ') == std::string_view::npos) {
        return arguments.empty() ? std::optional<literal_text>(std::move(out)) : std::nullopt;
    }
    std::size_t depth = 0, begin = 0;
    for (std::size_t k = 0; k <= arguments.size(); ++k) {
        const char c = k < arguments.size() ? arguments[k] : ',';
        if (c == '(') ++depth;
        if (c == ')') {
            if (depth == 0) return std::nullopt;
            --depth;
        }
        if (c != ',' || depth != 0) continue;
        index_reader reader(arguments.substr(begin, k - begin));
        auto index = reader.sum();
        if (!index || !reader.skip_spaces() || !reader.done() || !fits64(index->factor) || !fits64(index->offset)) {
            return std::nullopt;
        }
        out.indexes.push_back({index->has_name ? index->name : std::string_view(),
                               static_cast<std::int64_t>(index->factor), static_cast<std::int64_t>(index->offset)});
        begin = k + 1;
    }
    if (depth != 0) return std::nullopt;
    return out;
}

std::optional<std::string_view> element_call_name(std::string_view text) {
    std::size_t at = 0;
    if (text.empty() || !is_letter(text[0])) return std::nullopt;
    while (at < text.size() && (is_letter(text[at]) || is_digit(text[at]))) ++at;
    const std::string_view name = text.substr(0, at);
    if (is_reserved(name) || at + 1 >= text.size() || text[at] != '(' || text.back() != ')') return std::nullopt;
    const std::string_view indexes = text.substr(at + 1, text.size() - at - 2);
    // Empty, or numbers without leading zeros, one comma between two of them.
    for (std::size_t k = 0; k < indexes.size();) {
        const std::size_t start = k;
        while (k < indexes.size() && is_digit(indexes[k])) ++k;
        if (k == start || (indexes[start] == '0' && k - start > 1)) return std::nullopt;
        if (k < indexes.size() && (indexes[k] != ',' || ++k == indexes.size())) return std::nullopt;
    }
    return name;
}

}  // namespace zorv::inst
