#include "cnf/dimacs_writer.hpp"

#include <charconv>
#include <memory>
#include <string>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "io/atomic_file.hpp"

namespace zorv::cnf {

namespace {

bool is_auxiliary(std::string_view key) {
    for (std::string_view prefix : auxiliary_prefixes) {
        if (key.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

// Whether `text` holds a character that some common reader takes for the end of a line:
// besides \r and \n the vertical tab, form feed, the file, group and record separators and,
// in UTF-8, NEL, the line separator and the paragraph separator. A NUL ends the line for
// readers in C.
bool has_line_end(std::string_view text) {
    constexpr std::string_view ends("\r\n\v\f\x1c\x1d\x1e\0", 8);
    if (text.find_first_of(ends) != std::string_view::npos) {
        return true;
    }
    for (const std::string_view end : {"\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9"}) {
        if (text.find(end) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// A comment line ends at the first line end, so a text holding one cannot be written.
void check_comment_text(std::string_view text, std::string_view what) {
    if (has_line_end(text)) {
        std::string shown;
        for (const char c : text) {
            shown += c == '\0' ? std::string_view("\\x00") : std::string_view(&c, 1);
        }
        throw value_error(std::string(what) + " '" + shown +
                          "' holds a line break or a NUL and cannot be written as a DIMACS comment");
    }
}

void check_writable(const wcnf_storage& storage, sat_format format, const var_mapping* mapping) {
    if (format == sat_format::cnf && storage.soft_clause_count() > 0) {
        throw value_error("the storage holds " + std::to_string(storage.soft_clause_count()) +
                          " soft clauses, which a CNF file cannot carry; write it as WCNF");
    }
    check_comment_text(storage.model_name(), "model name");
    interrupt_gate gate;
    for (std::size_t i = 0; mapping != nullptr && i < mapping->size(); ++i) {
        gate.tick();
        if (!is_auxiliary(mapping->key(i))) {
            check_comment_text(mapping->key(i), "mapping key");
        }
    }
}

// Text goes into a large buffer, flushed to the file whenever it nears its end.
class output_buffer {
public:
    static constexpr std::size_t capacity = std::size_t{1} << 20;
    // Room for one number and its separator.
    static constexpr std::size_t number_room = 24;

    explicit output_buffer(io::atomic_file& file)
        : file_(file), data_(std::make_unique<char[]>(capacity)), pos_(data_.get()),
          end_(data_.get() + capacity) {}

    void text(std::string_view s) {
        if (s.size() > static_cast<std::size_t>(end_ - pos_)) {
            flush();
            if (s.size() > capacity) {
                file_.write(s);
                return;
            }
        }
        pos_ = std::copy(s.begin(), s.end(), pos_);
    }

    template <class Int>
    void number(Int value) {
        if (static_cast<std::size_t>(end_ - pos_) < number_room) {
            flush();
        }
        pos_ = std::to_chars(pos_, end_, value).ptr;
    }

    template <class Int>
    void number(Int value, char after) {
        number(value);
        *pos_++ = after;
    }

    void flush() {
        file_.write(std::string_view(data_.get(), static_cast<std::size_t>(pos_ - data_.get())));
        pos_ = data_.get();
    }

private:
    io::atomic_file& file_;
    std::unique_ptr<char[]> data_;
    char* pos_;
    char* end_;
};

void write_comments(output_buffer& out, const wcnf_storage& storage, const var_mapping* mapping) {
    if (!storage.model_name().empty()) {
        out.text("c model: ");
        out.text(storage.model_name());
        out.text("\n");
    }
    interrupt_gate gate;
    for (std::size_t i = 0; mapping != nullptr && i < mapping->size(); ++i) {
        gate.tick();
        if (is_auxiliary(mapping->key(i))) {
            continue;
        }
        out.text("c ");
        out.text(mapping->key(i));
        out.text(" ");
        out.number(mapping->number(i), '\n');
    }
    const auto prefatory = storage.prefatory_values();
    if (!prefatory.empty()) {
        out.text("c prefatory:");
        for (literal lit : prefatory) {
            out.text(" ");
            out.number(lit);
        }
        out.text("\n");
    }
}

void write_header(output_buffer& out, const wcnf_storage& storage, sat_format format) {
    out.text(format == sat_format::cnf ? "p cnf " : "p wcnf ");
    out.number(storage.header_variable_count(), ' ');
    if (format == sat_format::cnf) {
        out.number(storage.clause_count(), '\n');
    } else {
        out.number(storage.clause_count(), ' ');
        out.number(storage.top(), '\n');
    }
}

void write_clauses(output_buffer& out, const wcnf_storage& storage, sat_format format) {
    const auto lits = storage.literals();
    const auto offsets = storage.offsets();
    const auto weights = storage.weights();
    const weight top = storage.top();
    const std::size_t n = storage.clause_count();
    interrupt_gate gate;
    for (std::size_t i = 0; i < n; ++i) {
        gate.tick();
        if (format == sat_format::wcnf) {
            const weight w = weights.empty() || weights[i] == 0 ? top : weights[i];
            out.number(w, ' ');
        }
        for (std::size_t k = offsets[i]; k < offsets[i + 1]; ++k) {
            out.number(lits[k], ' ');
        }
        out.text("0\n");
    }
}

}  // namespace

void write_dimacs(const wcnf_storage& storage, const std::filesystem::path& path,
                  sat_format format, const var_mapping* mapping,
                  const std::function<void()>& before_rename) {
    check_writable(storage, format, mapping);
    io::atomic_file file(path);
    output_buffer out(file);
    write_comments(out, storage, mapping);
    write_header(out, storage, format);
    write_clauses(out, storage, format);
    out.flush();
    file.commit(before_rename);
}

}  // namespace zorv::cnf
