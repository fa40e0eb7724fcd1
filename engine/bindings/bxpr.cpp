#include "bindings/module.hpp"

void bind_bxpr(nanobind::module_& /*m*/) {}
