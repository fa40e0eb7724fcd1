#pragma once
#include <stdexcept>
#include <string>

// Engine errors map onto Python exceptions in the bindings:
// TypeError-like misuse, ValueError-like bad values, cells out of range, limits exceeded, and
// failed file operations.
namespace zorv {

struct type_error : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

struct value_error : std::domain_error {
    using std::domain_error::domain_error;
};

// A reference to a cell outside its variable: IndexError, as the container road gives.
struct index_error : std::out_of_range {
    using std::out_of_range::out_of_range;
};

struct limit_error : std::length_error {
    using std::length_error::length_error;
};

// A failed system call on a file: becomes OSError(errno, strerror, path), so Python
// picks the matching subclass (FileNotFoundError, PermissionError, ...). `why`, when given,
// says what the failure meant for the file, before the system's text.
struct os_error : std::runtime_error {
    os_error(int code, std::string path, std::string why = {})
        : std::runtime_error(path), code(code), path(std::move(path)), why(std::move(why)) {}
    int code;
    std::string path;
    std::string why;
};

}  // namespace zorv
