#pragma once
#include <nanobind/nanobind.h>

// Each concept registers its types on its own submodule of _engine.
void bind_bxpr(nanobind::module_& m);
void bind_pbct(nanobind::module_& m);
void bind_cnf(nanobind::module_& m);
void bind_lp(nanobind::module_& m);
void bind_inst(nanobind::module_& m);
void bind_fenc(nanobind::module_& m);
