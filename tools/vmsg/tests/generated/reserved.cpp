// The header generated from dictionaries/good/reserved.json, whose tag and
// message names are every name the generator escapes (C++ keywords and the
// names of the generated classes' own members), with a message that
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
    std::printf(ok ? "reserved names ok\n" : "reserved names: the reader disagrees with the builder\n");
    return ok ? 0 : 1;
}
