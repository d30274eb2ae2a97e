// The header generated from dictionaries/good/reserved.json, whose tag and
// message names are every name the generator escapes (C++ keywords and the
// names of the generated classes' own members, the namespaces and types
// the generated code names, macros of the headers it includes) and names
// equal to another's escaped name,
// with a message that requires one tag twice: it must compile, and its builder and reader must
// agree.
#include "reserved.h"

#include <cstdio>

int main()
{
    namespace build = reserved::messages::build_;
    std::unique_ptr<VMsg> msg = build::Builder(1, 2, 3, 4, 5.0f, 6).return_(7).build();
    build::Reader reader(*msg);
    const bool ok = reader.isMessage() && reader.missingTags().empty() && reader.builder() == 1u &&
                    reader.return_() == 3 && reader.count_() == 6u;
    // Messages and an object named after the namespaces the generated code
    // uses, tags after its types.
    std::unique_ptr<VMsg> typed = reserved::messages::std__::Builder(8).objects__(9).VTag_(10).build();
    const reserved::messages::std__::Reader std(*typed);
    const bool scoped = std.missingTags().empty() && std.VTag_() == 8u && std.vmsgs().size() == 1 &&
                        std.vmsgs()[0].objects__() == 9 && std.vmsgs()[0].VTag_() == 10u &&
                        reserved::messages::vmsg_::Reader(*reserved::messages::vmsg_::Builder("x").build()).VMsg_() ==
                            "x";
    // A name the generator escapes to the name of another entry ("int" and
    // "int_", "stop" and "stop__", message "std" and "std_"): each keeps a
    // name of its own.
    namespace clash = reserved::messages::return_;
    const unsigned char raw[] = {1, 2};
    const std::unique_ptr<VMsg> both = clash::Builder(raw, sizeof raw, 11, 12, 13).build();
    const clash::Reader apart(*both);
    const bool distinct = apart.int__() && apart.int__()->size() == 2 && apart.int_() == 11 &&
                          apart.stop___() == 12 && apart.stop__() == 13u &&
                          reserved::messages::std_::id != reserved::messages::std__::id;
    // Names the included headers define as macros, and an object named
    // after a tag that is also the name of the object classes' own field.
    namespace macros = reserved::messages::errno_;
    const std::unique_ptr<VMsg> expanded = macros::Builder(1, 2, 3, "x", 4, 5).EOF_(6).build();
    const macros::Reader plain(*expanded);
    const bool unexpanded = plain.errno_() == 1 && plain.NULL_() == 2u && plain.linux_() == 3u &&
                            plain.offsetof_() == "x" && plain.constinit_() == 4 && plain.tagses().size() == 1 &&
                            plain.tagses()[0].tags() == 5 && plain.tagses()[0].EOF_() == 6;
    const bool all = ok && scoped && distinct && unexpanded;
    std::printf(all ? "reserved names ok\n" : "reserved names: the reader disagrees with the builder\n");
    return all ? 0 : 1;
}
