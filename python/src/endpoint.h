// vmsg.Endpoint: the library's protocol endpoint (vmsg::Endpoint, over
// Carrow) on a vmsg.Dictionary; refusals are raised as the ProtocolError
// subclass of their code.
#ifndef VMSG_PYTHON_ENDPOINT_H
#define VMSG_PYTHON_ENDPOINT_H

#include <pybind11/pybind11.h>

namespace vmsgpy {

namespace py = pybind11;

/// Adds vmsg.Endpoint to @p module.
void defineEndpoint(py::module_& module);

} // namespace vmsgpy

#endif
