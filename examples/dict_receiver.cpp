// Receives blocks as UDP datagrams on 127.0.0.1:PORT and prints each with
// the names of a dictionary file read at run time: no code generated, the
// protocol is whatever the file says. The dictionary is loaded and checked
// with vmsg::Dictionary::load, the blocks checked by a vmsg::Endpoint on it
// and printed with vmsg::describe (the report of `vmsg decode --dict`).
//
//   vmsg_dict_receiver DICTIONARY PORT COUNT [TIMEOUT_MS]
//
// A dictionary that cannot be used is reported with every problem, one a
// line, and the program exits 2. PORT 0 takes any free port; the line
// "listening on 127.0.0.1:<port>" tells which. The receiver stops after
// COUNT datagrams, or when TIMEOUT_MS (default 5000) have passed since it
// started; it exits 0 when COUNT datagrams arrived (whatever they held),
// 1 when fewer did.
#include "Udp.h"

#include <VDictionary.h>
#include <VFormat.h>
#include <vmsg.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

// The dictionary of @p path, or nothing after printing why it is unusable.
std::optional<vmsg::Dictionary> loadDictionary(const char* path)
{
    try {
        return vmsg::Dictionary::load(path);
    } catch (const vmsg::DictionaryError& error) {
        for (const std::string& line : error.lines())
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "%s: %zu problem(s); nothing received\n", path, error.problems().size());
        return std::nullopt;
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int port = argc > 2 ? std::atoi(argv[2]) : -1;
    const int count = argc > 3 ? std::atoi(argv[3]) : -1;
    const int timeoutMs = argc > 4 ? std::atoi(argv[4]) : 5000;
    if (argc < 4 || argc > 5 || port < 0 || port > 65535 || count < 0 || timeoutMs < 0) {
        std::fprintf(stderr, "usage: %s DICTIONARY PORT COUNT [TIMEOUT_MS]\n", argv[0]);
        return 2;
    }
    const std::optional<vmsg::Dictionary> dict = loadDictionary(argv[1]);
    if (!dict)
        return 2;
    const std::size_t objects = dict->metas().size();
    std::printf("dictionary %s: %zu messages, %zu tags, %zu %s\n",
                dict->name().empty() ? argv[1] : dict->name().c_str(), dict->messages().size(),
                dict->tags().size(), objects, objects == 1 ? "object" : "objects");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    demo::UdpSocket socket;
    if (socket.listenOnLoopback(static_cast<unsigned short>(port)) == 0)
        return 1;

    // The endpoint holds the dictionary's records: it checks each block as
    // an application's receive path does (known id, required tags).
    vmsg::Endpoint endpoint(dict->def());
    const demo::Received got = demo::receiveDatagrams(socket, deadline, count, [&](const unsigned char* data,
                                                                                   std::size_t size) {
        std::fputs(vmsg::describe(data, size, &*dict).c_str(), stdout);
        if (const vmsg::Errors errors = endpoint.bytesIn(data, size)) {
            for (const VError& error : errors)
                std::printf("  receive path: refused, %s\n", vmsg::errorText(error, &*dict).c_str());
            return 0;
        }
        int accepted = 0;
        while (endpoint.receive())
            ++accepted;
        return accepted;
    });
    return got.datagrams == count ? 0 : 1;
}
