// The module's burns: `tarvok.burn()` with the command line's settings, its typed outcome,
// and `tarvok.ports()`.
#pragma once

#include <pybind11/pybind11.h>

namespace tarvok::python {

void BindBurn(pybind11::module_& module);

}  // namespace tarvok::python
