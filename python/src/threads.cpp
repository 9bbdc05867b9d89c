// The library's thread-count setting.

#include "common.h"

namespace foresting {

void bind_threads(py::module_ &m)
{
    m.def("set_num_threads", [](int n) { return pxSetNumThreads(n); }, py::arg("n"));
    m.def("get_num_threads", [] { return pxGetNumThreads(); });
}

} // namespace foresting
