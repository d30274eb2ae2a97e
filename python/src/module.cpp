// The module vmsg: each part adds its classes and functions.
#include "dictionary.h"
#include "errors.h"
#include "message.h"
#include "parts.h"
#include "values.h"

#include <VWire.h>

PYBIND11_MODULE(vmsg, module)
{
    module.doc() = "Build, parse, check and exchange libvmsg messages with the library itself (libvmsg.so.0): "
                   "Message, decode, segment, join, Dictionary, Endpoint, structure, missing_tags, frame, "
                   "FrameReader, read_messages, and the ProtocolError subclass of each error code.";
    module.attr("__version__") = VMSG_VERSION;
    module.attr("MAX_BLOCK") = vmsg::kMaxBlock;
    module.attr("MAX_MESSAGE_PAYLOAD") = vmsg::kMaxMessagePayload;
    module.attr("MAX_TEXT") = vmsg::kMaxText;
    module.attr("MAX_BYTES") = vmsg::kMaxPayload;
    module.attr("MORE_SEGMENTS") = vmsg::kMoreSegments;
    vmsgpy::defineValues(module);
    vmsgpy::defineErrors(module);
    vmsgpy::defineMessage(module);
    vmsgpy::defineDictionary(module);
    vmsgpy::defineEndpoint(module);
    vmsgpy::defineFraming(module);
}
