#include "parts.h"

#include "arguments.h"
#include "dictionary.h"
#include "errors.h"
#include "message.h"

#include <format/Text.h>

#include <deque>
#include <limits>
#include <vector>

namespace vmsgpy {

namespace {

class Endpoint {
public:
    Endpoint(py::handle dictionary, const vmsg::EndpointOptions& options)
        : mDictionaryObject(py::reinterpret_borrow<py::object>(dictionary)),
          mDictionary(dictionaryArgument(dictionary, "Endpoint(): dictionary")), mEndpoint(mDictionary.def(), options)
    {
    }

    // The endpoint takes over what it queues, so it gets a copy: the
    // caller's message stays as it is, sent or refused.
    void send(py::handle message)
    {
        std::unique_ptr<VMsg> copy = cloneMessage(messageArgument(message, "Endpoint.send(): message").msg());
        raiseIfAny(mEndpoint.send(copy), &mDictionary.tool());
    }

    bool ready() const { return mEndpoint.ready(); }

    py::bytes bytesOut(py::handle capacity)
    {
        // Room beyond 65535 bytes is not used by the library.
        const unsigned long wanted = unsignedArgument(capacity, 0, std::numeric_limits<long>::max(),
                                                      "Endpoint.bytes_out(): capacity");
        const std::size_t room = wanted < kMaxRoom ? wanted : kMaxRoom;
        unsigned char small[vmsg::kMaxBlock];
        std::vector<unsigned char> large(room > sizeof small ? room : 0);
        unsigned char* out = large.empty() ? small : large.data();
        std::size_t length = 0;
        raiseIfAny(mEndpoint.bytesOut(out, room, length), &mDictionary.tool());
        return py::bytes(reinterpret_cast<const char*>(out), length);
    }

    void bytesIn(py::handle data)
    {
        const Bytes bytes(data, "Endpoint.bytes_in(): data");
        raiseIfAny(mEndpoint.bytesIn(bytes.data(), bytes.size()), &mDictionary.tool(), parseFailure(bytes.size()));
        // The queue is fed by bytesIn alone, so the received messages and
        // their origins stay in step.
        mReceived.push_back(originOf(bytes.data(), bytes.size(), bytes.keep()));
    }

    py::object getMessage()
    {
        std::unique_ptr<VMsg> msg = mEndpoint.receive();
        if (!msg)
            return py::none();
        std::optional<Origin> origin;
        if (!mReceived.empty()) {
            origin = std::move(mReceived.front());
            mReceived.pop_front();
        }
        return messageObject(std::move(msg), std::move(origin));
    }

    void check(py::handle message) const
    {
        const VMsg& msg = messageArgument(message, "Endpoint.check(): message").msg();
        raiseIfAny(mEndpoint.check(msg), &mDictionary.tool());
        const std::vector<unsigned char> missing = vmsg::missingTags(*mEndpoint.definition(msg.mId), msg);
        if (missing.empty())
            return;
        // The records the classic checkMessageTags gives for these ids.
        std::vector<std::unique_ptr<VError>> owned;
        std::vector<const VError*> records;
        for (unsigned char id : missing) {
            owned.push_back(std::make_unique<VError>(ErrMissingTag, &id, 1));
            records.push_back(owned.back().get());
        }
        raiseErrors(records, &mDictionary.tool());
    }

    const py::object& dictionary() const { return mDictionaryObject; }
    const Dictionary& dictionaryEntries() const { return mDictionary; }

private:
    static constexpr std::size_t kMaxRoom = std::numeric_limits<unsigned short>::max();

    py::object mDictionaryObject; // keeps the records alive
    const Dictionary& mDictionary;
    vmsg::Endpoint mEndpoint;
    std::deque<Origin> mReceived;
};

} // namespace

void defineEndpoint(py::module_& module)
{
    py::class_<Endpoint>(module, "Endpoint",
                         "The library's protocol endpoint on a dictionary: messages are checked and queued to go "
                         "out (send, bytes_out) and come in (bytes_in, get_message). Refusals raise the "
                         "ProtocolError subclass of their code.")
        .def(py::init([](py::handle dictionary, bool acceptDamaged, py::handle maxBlock, py::handle maxQueued) {
                 vmsg::EndpointOptions options;
                 options.acceptDamaged = acceptDamaged;
                 options.maxBlock = unsignedArgument(maxBlock, 0, std::numeric_limits<long>::max(),
                                                     "Endpoint(): max_block");
                 options.maxQueued = unsignedArgument(maxQueued, 0, std::numeric_limits<long>::max(),
                                                      "Endpoint(): max_queued");
                 return std::make_unique<Endpoint>(dictionary, options);
             }),
             py::arg("dictionary"), py::kw_only(), py::arg("accept_damaged") = false,
             py::arg("max_block") = vmsg::kMaxBlock, py::arg("max_queued") = vmsg::kDefaultMaxQueued,
             vmsg::detail::withLimits(
                 "An endpoint on a vmsg.Dictionary. accept_damaged: queue a block damaged after its header with "
                 "the tags before the damage instead of raising ParseFailed; max_block: the longest block "
                 "bytes_in takes (by default {max-block}, at most 65535); max_queued: the most messages each "
                 "queue holds, beyond which send and bytes_in raise QueueFull (0 for no limit, at most 65535).")
                 .c_str())
        .def("send", &Endpoint::send, py::arg("message"),
             vmsg::detail::withLimits(
                 "Checks the message's id and queues a copy of it for bytes_out. UnknownMessage for an id the "
                 "dictionary does not define, LengthMismatch for a message of over {max-payload} payload bytes, "
                 "which no block holds (segment it), QueueFull when max_queued messages wait.")
                 .c_str())
        .def("ready", &Endpoint::ready, "Whether a message waits for bytes_out.")
        .def("bytes_out", &Endpoint::bytesOut, py::arg("capacity") = vmsg::kMaxBlock,
             vmsg::detail::withLimits("The oldest queued message written for the wire, in at most capacity bytes; "
                                      "b'' when none is queued. BufferTooSmall (detail: the bytes needed; the message "
                                      "stays queued) or LengthMismatch (the message cannot be written whole, over "
                                      "{max-payload} payload bytes, and is gone).")
                 .c_str())
        .def("bytes_in", &Endpoint::bytesIn, py::arg("data"),
             "Parses a received block, checks its id and queues the message for get_message. ParseFailed, with "
             "stop and stop_offset, for fewer than 2 bytes, more than max_block, or a block damaged after its "
             "header (unless accept_damaged: then it is taken with the tags before the damage and the message's "
             "stop says so); UnknownMessage for an id the dictionary does not define; QueueFull when "
             "max_queued messages wait.")
        .def("get_message", &Endpoint::getMessage,
             "The oldest received message (vmsg.Message, with stop and stop_offset of its block), or None.")
        .def("check", &Endpoint::check, py::arg("message"),
             "Checks the message as bytes_in does (UnknownMessage), then its required tags: MissingTag with a "
             "record per missing tag.")
        .def_property_readonly("dictionary", &Endpoint::dictionary, "The vmsg.Dictionary.")
        .def("__repr__", [](const Endpoint& e) {
            return textOf("<vmsg.Endpoint on " + e.dictionaryEntries().source() + ">");
        });
}

} // namespace vmsgpy
