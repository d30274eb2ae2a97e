// The header generated from dictionaries/good/reserved.json, whose tag and
// message names are every name the generator escapes (C++ keywords and the
// names of the generated classes' own members, the namespaces and types
// the generated code names), with a message that
// requires one tag twice: it must compile, and its builder and reader must
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
    std::unique_ptr<VMsg> typed = reserved::messages::std_::Builder(8).objects__(9).VTag_(10).build();
    const reserved::messages::std_::Reader std(*typed);
    const bool scoped = std.missingTags().empty() && std.VTag_() == 8u && std.vmsgs().size() == 1 &&
                        std.vmsgs()[0].objects__() == 9 && std.vmsgs()[0].VTag_() == 10u &&
                        reserved::messages::vmsg_::Reader(*reserved::messages::vmsg_::Builder("x").build()).VMsg_() ==
                            "x";
    std::printf(ok && scoped ? "reserved names ok\n" : "reserved names: the reader disagrees with the builder\n");
    return ok && scoped ? 0 : 1;
}
