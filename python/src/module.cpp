// The extension module: each operator family registers its functions from its
// own source file; the list of families comes from the build.

#include "common.h"

#define FORESTING_FAMILY(name) void bind_##name(pybind11::module_ &m);
namespace foresting {
#include "families.inc"
}
#undef FORESTING_FAMILY

PYBIND11_MODULE(_foresting, m)
{
    m.doc() = "Low-level bindings of the IFT toolkit; use the foresting package.";
    m.attr("__version__") = FORESTING_VERSION;
    m.def("verbose", [] { return foresting::verboseMessages(); });
    m.def("set_verbose", [](bool on) { foresting::verboseMessages() = on; });
#define FORESTING_FAMILY(name) foresting::bind_##name(m);
#include "families.inc"
#undef FORESTING_FAMILY
}
