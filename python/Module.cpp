// `_tarvok`, the extension inside the `tarvok` package.
#include <pybind11/pybind11.h>

#include "python/ModuleBurn.h"
#include "python/ModuleImage.h"

PYBIND11_MODULE(_tarvok, module) {
  module.doc() = "Burns flash images into TR7340 chips over serial ports, for test rigs.";
  tarvok::python::BindImage(module);
  tarvok::python::BindBurn(module);
}
