#include "bindings/module.hpp"

void bind_lp(nanobind::module_& /*m*/) {}
