#include "Stream.h"

#include "Errors.h"
#include "Transport.h"

#include <format/Decode.h>

#include <cmath>
#include <optional>
#include <iostream>

namespace vmsgtool {

int sendBlocks(const SendSettings& settings, std::istream& input)
{
    const Endpoint endpoint = parseUrl(settings.url, false);
    const std::optional<vmsg::Framing> framing = framingFor(endpoint, settings.framing);
    std::unique_ptr<Sender> sender = openSender(endpoint, framing);
    std::string line;
    std::size_t lineNumber = 0;
    std::size_t sent = 0;
    while (std::getline(input, line)) {
        Block block = parseHexLine(line, "stdin", ++lineNumber);
        if (block.bytes.empty())
            continue;
        sender->send(block);
        ++sent;
    }
    sender->finish();
    if (sent == 0)
        throw UsageError("stdin: no blocks found (expected hex text, one block per line)");
    return kExitOk;
}

int listenBlocks(const ListenSettings& settings)
{
    const Endpoint endpoint = parseUrl(settings.url, true);
    const std::optional<vmsg::Framing> framing = framingFor(endpoint, settings.framing);
    std::optional<vmsg::Dictionary> dict;
    if (!settings.dictionary.empty()) {
        try {
            dict.emplace(vmsg::Dictionary::load(settings.dictionary));
        } catch (const vmsg::DictionaryError& error) {
            throw UsageError(error.lines().front());
        }
    }
    if (settings.timeout && !(*settings.timeout > 0 && std::isfinite(*settings.timeout)))
        throw UsageError("--timeout: expected a number of seconds above 0");
    std::unique_ptr<Receiver> receiver = openReceiver(endpoint, framing);
    std::cerr << "vmsg listen: listening on " << receiver->address() << std::endl;

    const Clock::time_point deadline =
        settings.timeout ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(*settings.timeout))
                         : Clock::time_point::max();
    std::size_t received = 0;
    std::size_t failed = 0;
    Receipt receipt = Receipt::Block;
    while (!settings.count || received < *settings.count) {
        Block block;
        receipt = receiver->next(block, deadline);
        if (receipt != Receipt::Block)
            break;
        const BlockReport report = reportBlock(block, ++received, dict ? &*dict : nullptr);
        failed += report.ok ? 0 : 1;
        if (settings.json)
            std::cout << report.json << '\n';
        else
            std::cout << (received > 1 ? "\n" : "") << report.text;
        std::cout.flush();
    }
    bool shortCount = false;
    if (receipt == Receipt::TimedOut && settings.count) {
        std::cerr << "vmsg listen: timed out after " << *settings.timeout << " s with " << received << " of "
                  << *settings.count << " blocks\n";
        shortCount = true;
    }
    if (receipt == Receipt::Ended && settings.count && received < *settings.count) {
        std::cerr << "vmsg listen: " << receiver->address() << " ended with " << received << " of "
                  << *settings.count << " blocks\n";
        shortCount = true;
    }
    if (failed)
        std::cerr << "vmsg listen: " << failed << " of " << received << " blocks failed\n";
    return failed || shortCount || receiver->faults() ? kExitBlockFailed : kExitOk;
}

} // namespace vmsgtool
