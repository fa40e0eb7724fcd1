#include "pbct/aux_var_manager.hpp"

#include <limits>
#include <string>

#include "common/errors.hpp"

namespace zorv::pbct {

AuxVarManager::AuxVarManager(std::int64_t first) : next_(first) {
    if (first < 1) {
        throw value_error("AuxVarManager: the first variable must be >= 1, got " +
                          std::to_string(first));
    }
}

std::int64_t AuxVarManager::get_variable() {
    if (next_ == std::numeric_limits<std::int64_t>::max()) {
        throw limit_error("AuxVarManager: variable numbers exhausted");
    }
    return next_++;
}

}  // namespace zorv::pbct
