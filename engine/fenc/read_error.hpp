#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>

namespace zorv::fenc {

// A text outside the language: what is wrong and the byte offset where it was found.
struct read_error : std::runtime_error {
    read_error(std::string what, std::size_t offset) : std::runtime_error(std::move(what)), offset(offset) {}
    std::size_t offset;
};

}  // namespace zorv::fenc
