// vmsg.Framing, vmsg.frame and vmsg.FrameReader over the library's framing
// (VFrame.h), and the asyncio helpers read_blocks and read_messages that
// turn an asyncio.StreamReader into an async iterator of blocks or of
// decoded messages.
#ifndef VMSG_PYTHON_FRAMING_H
#define VMSG_PYTHON_FRAMING_H

#include <pybind11/pybind11.h>

namespace vmsgpy {

namespace py = pybind11;

/// Adds Framing, frame, FrameReader, read_blocks and read_messages to
/// @p module (after decode, which read_messages calls).
void defineFraming(py::module_& module);

} // namespace vmsgpy

#endif
