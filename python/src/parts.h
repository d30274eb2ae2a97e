// The parts of the module that other parts do not call, each adding its
// classes and functions to the module:
// - vmsg.Endpoint: the library's protocol endpoint (vmsg::Endpoint, over
//   Carrow) on a vmsg.Dictionary; refusals are raised as the ProtocolError
//   subclass of their code (endpoint.cpp);
// - vmsg.Framing, vmsg.frame and vmsg.FrameReader over the library's framing
//   (VFrame.h), and the asyncio helpers read_blocks and read_messages that
//   turn an asyncio.StreamReader into an async iterator of blocks or of
//   decoded messages (framing.cpp).
#ifndef VMSG_PYTHON_PARTS_H
#define VMSG_PYTHON_PARTS_H

#include <pybind11/pybind11.h>

namespace vmsgpy {

namespace py = pybind11;

/// Adds vmsg.Endpoint to @p module.
void defineEndpoint(py::module_& module);

/// Adds Framing, frame, FrameReader, read_blocks and read_messages to
/// @p module (after decode, which read_messages calls).
void defineFraming(py::module_& module);

} // namespace vmsgpy

#endif
