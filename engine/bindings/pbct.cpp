#include "bindings/module.hpp"

void bind_pbct(nanobind::module_& /*m*/) {}
