// vmsg.Message: a VMsg of the library, built through vmsg::MessageBuilder
// or parsed by VMsg::parseMsg, with how its block ended when it was
// received; and the module functions around it (decode, segment, join).
#ifndef VMSG_PYTHON_MESSAGE_H
#define VMSG_PYTHON_MESSAGE_H

#include "arguments.h"

#include <pybind11/pybind11.h>

#include <vmsg.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vmsg {
class Dictionary;
}

namespace vmsgpy {

namespace py = pybind11;

/// How the block a message was parsed from ended, by vmsg::Reader.
struct Origin {
    vmsg::Stop stop;    ///< Stop::End when every byte was read as tags.
    std::size_t offset; ///< Where the walk stopped (the block's size at End).
    py::bytes block;    ///< The block, for the tool's report.
    bool walked = true; ///< False while stop and offset are still to be found.
};

/// Walks @p block with vmsg::Reader, as parseMsg does, to say where and why
/// it ended.
Origin originOf(const unsigned char* block, std::size_t size, py::bytes kept);

/// Why the parser takes no message from a block of @p size bytes (fewer
/// than 2, more than 65535), to go with ErrParseFailed; empty for a size
/// it takes.
std::string parseFailure(std::size_t size);

/// The Python object behind vmsg.Message.
///
/// The VMsg is made when something first needs it: a decoded message
/// reads its tags from the block it keeps until it is changed, and tags
/// added from Python are kept in their wire layout, so that decoding and
/// encoding from Python build no tag objects of the library. Added tags are
/// moved onto the message (VMsg::addSegment) when it is next read, so that
/// a chain of additions builds one message, as the C++ builder does.
class Message final {
public:
    /// An empty message.
    Message(unsigned char id, unsigned char flags);
    /// A message the library made (parsed, received); @p origin says how
    /// its block ended.
    Message(std::unique_ptr<VMsg> msg, std::optional<Origin> origin);
    /// A message parsed from @p origin's block when it is first needed.
    explicit Message(Origin origin);

    /// A message is made and dropped per block decoded: the memory of the
    /// last ones is kept for the next. Called with the GIL held, as every
    /// Message is made and deleted by Python's calls.
    static void* operator new(std::size_t size);
    static void operator delete(void* memory) noexcept;

    /// The message, with every tag added so far.
    VMsg& msg();
    /// Appends a tag of type @p code with @p size payload bytes (at most
    /// 1018) already in wire encoding; the message then no longer stands
    /// for the block it came from.
    void add(unsigned char tagId, unsigned char code, const void* payload, std::size_t size);
    /// Drops the origin: the message was changed.
    void changed()
    {
        msg();
        mOrigin.reset();
    }
    /// The block, for a message that was parsed and not changed; its stop
    /// and offset may still be unknown (see walkedOrigin).
    const std::optional<Origin>& origin() const { return mOrigin; }
    /// How the block ended, for a message that was parsed and not changed.
    const Origin* walkedOrigin();

    /// The message id and the flags byte.
    unsigned char id() const;
    unsigned char flags() const;
    /// The tags as a list of vmsg.Tag, read in place where they are still
    /// in wire layout.
    py::list tags();
    /// The block of a message that fits one, else none (VMsg::getMsg).
    std::optional<py::bytes> block();

private:
    std::unique_ptr<VMsg> mMsg;
    unsigned char mId = 0;
    unsigned char mFlags = 0;
    /// Tags added and not yet on mMsg, as written on the wire.
    std::vector<unsigned char> mPending;
    std::optional<Origin> mOrigin;
};

/// A copy of @p msg with copies of its tags (VTagFactory), for the calls
/// that take a message over or take it apart.
std::unique_ptr<VMsg> cloneMessage(const VMsg& msg);

/// The Message behind @p value.
/// @throws TypeError naming @p where when it is not a vmsg.Message.
Message& messageArgument(py::handle value, const Where& where);

/// The Python value of a message made by the library.
py::object messageObject(std::unique_ptr<VMsg> msg, std::optional<Origin> origin);

/// The vmsg.Stop member of @p stop.
py::object stopObject(vmsg::Stop stop);

/// A list of vmsg.Tag of the tags of @p msg, in chain order.
py::list tagList(const VMsg& msg);
/// A list of vmsg.Tag of @p tags.
py::list tagList(const std::vector<VTag*>& tags);

/// The lines of vmsg decode for @p block, without the tool's first line
/// ("block 1 (...), N bytes") and the last newline.
/// @param dict the dictionary's checks and names, or null.
std::string reportText(const py::bytes& block, const vmsg::Dictionary* dict);

/// Adds vmsg.Stop, vmsg.Message, decode, segment and join to @p module.
void defineMessage(py::module_& module);

} // namespace vmsgpy

#endif
