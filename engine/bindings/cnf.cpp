#include "bindings/module.hpp"

void bind_cnf(nanobind::module_& /*m*/) {}
