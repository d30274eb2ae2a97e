#include "Cli.h"

#include "Blocks.h"
#include "DictDiff.h"
#include "Errors.h"
#include "Framed.h"
#include "Generate.h"
#include "Logging.h"
#include "LuaExport.h"
#include "Stream.h"
#include "TagText.h"

#include <format/Decode.h>
#include <format/Segments.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vmsgtool {

namespace {

const char kMainHelp[] = R"(Usage: vmsg [--verbose] COMMAND [OPTIONS] [ARGUMENTS]
       vmsg --help | --version

Looks into message blocks and crafts them.

Commands:
  decode [FILE|-]             print the messages in blocks, tag by tag
  encode --id N [TAG...]      build a block from tag arguments
  segment --frame N [FILE|-]  split blocks into frame-sized segment blocks
  join [FILE|-]               join segment blocks back into messages
  send URL                    send the blocks read on standard input
  listen URL                  print the blocks received, as decode does
  dict check FILE             check a dictionary file, naming every problem
  dict gen FILE -o HEADER     generate C++ for a dictionary
  dict gen --lua FILE [-o F]  export a checked dictionary for the dissector
  dict diff OLD NEW           list the changes between two dictionaries

Blocks are read and written as hex text, one block per line. Run
'vmsg COMMAND --help' for the options of a command.

Exit status: 0 ok, 1 a block failed to parse or validate, 2 usage or file error.
)";

const char kSendHelp[] = R"(Usage: vmsg send [--framing lp|cobs] [--verbose] URL

Reads hex blocks on standard input, one a line as decode reads them, and
sends each to URL as soon as its line is read:

  udp://HOST:PORT        one datagram per block
  tcp://HOST:PORT        connects, then writes the blocks framed
  mqtt://HOST:PORT/TOPIC one MQTT message per block, published with QoS 1
  file:PATH              writes the blocks framed to PATH (a file, or a
                         serial line or pseudo-terminal, set to raw mode)
  -                      writes the blocks framed to standard output

Options:
  --framing lp|cobs  the framing of tcp, file and -: a 2-byte big-endian
                     length before each block (lp, the default) or COBS
                     with a 0x00 after each block (cobs)
  --verbose          print the library's debug lines on standard error

Exit status: 0 ok, 1 a block could not be sent, 2 usage or file error, or
an endpoint that cannot be reached (a bad URL, a refused connection).
)";

const char kListenHelp[] = R"(Usage: vmsg listen [--framing lp|cobs] [--dict FILE] [--json] [--count N]
                   [--timeout SECONDS] [--verbose] URL

Receives blocks at URL and prints each as decode prints it, with the
sender in place of the input line. Says 'vmsg listen: listening on
ADDRESS' on standard error once ready (with the port the system chose
when PORT is 0).

  udp://HOST:PORT        one block per datagram
  tcp://HOST:PORT        accepts connections and reads framed blocks
  mqtt://HOST:PORT/TOPIC subscribes to TOPIC (wildcards allowed)
  file:PATH              reads framed blocks from PATH to its end
  -                      reads framed blocks from standard input

Options:
  --framing lp|cobs  the framing of tcp, file and - (default lp)
  --dict FILE        names and checks from a JSON dictionary, as decode
  --json             print one JSON object a line, one per block
  --count N          stop after N blocks
  --timeout SECONDS  stop after SECONDS (a fraction is allowed)
  --verbose          print the library's debug lines on standard error

Exit status: 0 ok, 1 a block failed to parse or validate, bytes were lost
to framing, or the timeout or the end came before N blocks, 2 usage or
file error, or an endpoint that cannot be opened (a bad URL, a port in use).
)";

const char kDecodeHelp[] = R"(Usage: vmsg decode [--raw | --framing lp|cobs] [--json] [--dict FILE] [--verbose] [FILE|-]

Prints every message in FILE (standard input when absent or '-'): its id,
flags, and each tag with offset, id, type, declared length and value. Where
the parse stops before the end of a block, says at which byte, why, and how
many bytes were left unread.

Input is hex text, one block per line: whitespace and commas separate
bytes, 0x prefixes are allowed, '#' starts a comment.

Options:
  --raw        the input is one block of raw bytes
  --framing lp|cobs
               the input is a framed capture: blocks each with a 2-byte
               big-endian length (lp) or COBS-encoded and ended by 0x00
               (cobs); bytes dropped or a last frame cut short fail
  --json       print the report as JSON
  --dict FILE  take message and tag names from a JSON dictionary, check each
               block as a receiving endpoint does (bytesIn), list missing
               required tags and show the structured view
  --verbose    print the library's debug lines on standard error

Exit status: 0 ok, 1 a block failed to parse or validate, 2 usage or file error.
)";

const char kEncodeHelp[] = R"(Usage: vmsg encode --id N [--flags N] [--raw | --framing lp|cobs] [--verbose] [TAG...]

Builds a message with id N and one tag per argument and prints the block
as hex (or raw bytes with --raw, or one framed block with --framing: a
2-byte big-endian length then the block for lp, the block COBS-encoded
and ended by 0x00 for cobs). Tags:

  null:ID            a tag without value
  u8:ID=VALUE        unsigned 8, 16 or 32 bits; decimal or 0x hex
  u16:ID=VALUE
  u32:ID=VALUE
  f32:ID=VALUE       a float: 1.5, -2e-3, inf, nan
  str:ID=TEXT        text, up to {max-text} characters
  bytes:ID=HEX       raw bytes as hex digits, up to {max-bytes} bytes

Ids and the flags byte are decimal or 0x hex, 0 to 255.

Exit status: 0 ok, 2 a bad argument.
)";

const char kSegmentHelp[] = R"(Usage: vmsg segment --frame N [--raw] [--verbose] [FILE|-]

Splits each block of FILE into segment blocks for frames of N bytes, with
the library's segmentation: a segment stays below N bytes unless a single
tag needs more, and every segment but the last has flag {more} set. Prints
one segment per line as hex.

Options:
  --frame N    the frame size, 1 to 65535
  --raw        the input is one block of raw bytes
  --verbose    print the library's debug lines on standard error

Exit status: 0 ok, 1 a block failed to parse or to be written, 2 usage or file error.
)";

const char kJoinHelp[] = R"(Usage: vmsg join [--raw] [--verbose] [FILE|-]

Joins the segment blocks of FILE (hex, one per line, in arrival order) back
into messages: a segment with flag {more} clear ends a message. Prints one
joined block per line as hex.

Options:
  --raw        write the joined block as raw bytes (one message only)
  --verbose    print the library's debug lines on standard error

Exit status: 0 ok, 1 a segment failed to parse or join, 2 usage or file error.
)";

const char kDictHelp[] = R"(Usage: vmsg dict check FILE
       vmsg dict gen FILE -o HEADER [--namespace NAME]
       vmsg dict gen --lua FILE [-o FILE]
       vmsg dict diff OLD NEW [--json]

check  Reads the JSON dictionary FILE and checks it against the rules of
       the dictionary format: every problem is printed as FILE:LINE: PATH:
       what is wrong. Prints a one-line summary when there is none.
gen    Checks FILE, then writes a C++ header: the CarrowDictDef with its
       records, constants for every message and tag id, and for every
       message a typed builder and a typed reader over <vmsg.hpp>.
       With --lua, writes the checked dictionary instead as a Lua chunk
       returning a table, the file the Wireshark dissector loads (to
       standard output without -o).
diff   Checks OLD and NEW, then lists each change from OLD to NEW as
       breaking or compatible for a peer that still has OLD.

Options:
  -o, --output HEADER   the header to write (gen), or the Lua file (gen --lua)
  --lua                 export for Lua instead of generating C++ (gen)
  --namespace NAME      the namespace of the generated code, nested with
                        '::' if wanted (gen; default: the file's name)
  --json                print the changes as JSON (diff)

Exit status: 0 ok, 1 the dictionary has problems (diff: a change breaks),
2 usage or file error (a file that cannot be read or is not valid JSON).
)";

struct Options {
    std::set<std::string> flags;
    std::map<std::string, std::string> values;
    std::vector<std::string> arguments;
    bool help = false;
};

// Reads "--flag", "--name VALUE", "--name=VALUE", "-h", "--" and the
// arguments; "-" alone is an argument (standard input).
Options parseOptions(int argc, char** argv, int start, const std::set<std::string>& flagNames,
                     const std::set<std::string>& valueNames)
{
    Options options;
    bool optionsDone = false;
    for (int i = start; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsDone || arg == "-" || arg.empty() || arg[0] != '-') {
            options.arguments.push_back(arg);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (flagNames.count(name) && equals == std::string::npos)
                options.flags.insert(name);
            else if (valueNames.count(name) && equals != std::string::npos)
                options.values[name] = arg.substr(equals + 1);
            else if (valueNames.count(name) && i + 1 < argc)
                options.values[name] = argv[++i];
            else if (valueNames.count(name))
                throw UsageError("option " + name + " needs a value");
            else
                throw UsageError("unknown option '" + arg + "'");
        }
    }
    return options;
}

std::string inputPath(const Options& options)
{
    if (options.arguments.size() > 1)
        throw UsageError("expected one input file, found " + std::to_string(options.arguments.size()) +
                         " arguments");
    return options.arguments.empty() ? "-" : options.arguments.front();
}

// The blocks of the input file; an input without any is a mistake.
std::vector<Block> inputBlocks(const Options& options, bool raw)
{
    const std::string path = inputPath(options);
    std::vector<Block> blocks = readBlocks(path, raw);
    if (blocks.empty())
        throw UsageError(inputName(path) + ": no blocks found (expected hex text, one block per line)");
    return blocks;
}

unsigned long numberOption(const Options& options, const std::string& name, unsigned long min, unsigned long max,
                           bool required, unsigned long fallback)
{
    auto it = options.values.find(name);
    if (it == options.values.end()) {
        if (required)
            throw UsageError("missing " + name + " N");
        return fallback;
    }
    const auto value = parseUnsigned(it->second, max);
    if (!value || *value < min)
        throw UsageError(name + ": expected a number from " + std::to_string(min) + " to " + std::to_string(max) +
                         " (decimal or 0x hex), found '" + it->second + "'");
    return *value;
}

void printLines(const std::vector<std::vector<unsigned char>>& blocks)
{
    for (const auto& block : blocks)
        std::cout << hexLine(block) << '\n';
}

void writeRaw(const std::vector<unsigned char>& block)
{
    std::cout.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
}

// The blocks to decode: hex lines, one raw block, or a framed capture,
// whose dropped bytes and cut-short last frame are reported and fail.
std::vector<Block> decodeInput(const Options& options, std::size_t& faults)
{
    auto framing = options.values.find("--framing");
    if (framing == options.values.end())
        return inputBlocks(options, options.flags.count("--raw") != 0);
    if (options.flags.count("--raw"))
        throw UsageError("--raw and --framing exclude each other");
    const vmsg::Framing how = parseFraming(framing->second);
    const std::string path = inputPath(options);
    FramedCapture capture = readFramed(readInput(path), how, inputName(path));
    if (capture.dropped) {
        std::cerr << "vmsg decode: " << inputName(path) << ": " << capture.dropped
                  << " bytes dropped: they frame no block\n";
        ++faults;
    }
    if (capture.unfinished) {
        std::cerr << "vmsg decode: " << inputName(path) << ": the last frame is cut short (" << capture.unfinished
                  << " block bytes)\n";
        ++faults;
    }
    if (capture.blocks.empty() && !faults)
        throw UsageError(inputName(path) + ": no blocks found (expected " + framingName(how) + "-framed blocks)");
    return std::move(capture.blocks);
}

// The dictionary of a file; one that cannot be read or does not hold is a
// usage error, named by its first problem.
vmsg::Dictionary dictionaryFile(const std::string& path)
{
    const std::string text = readInput(path);
    try {
        return vmsg::Dictionary::parse(text, path);
    } catch (const vmsg::DictionaryError& error) {
        throw UsageError(error.lines().front());
    }
}

int decode(const Options& options)
{
    std::optional<vmsg::Dictionary> dict;
    if (options.values.count("--dict"))
        dict.emplace(dictionaryFile(options.values.at("--dict")));
    std::size_t streamFaults = 0;
    const std::vector<Block> blocks = decodeInput(options, streamFaults);
    const bool json = options.flags.count("--json") != 0;
    // The library gives each report as JSON text; the document gathers them.
    using Json = nlohmann::ordered_json;
    Json document{{"source", inputName(inputPath(options))}, {"blocks", Json::array()}};
    std::size_t failed = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const BlockReport report = reportBlock(blocks[i], i + 1, dict ? &*dict : nullptr);
        failed += report.ok ? 0 : 1;
        if (json)
            document["blocks"].push_back(Json::parse(report.json));
        else
            std::cout << (i ? "\n" : "") << report.text;
    }
    if (json) {
        document["failed"] = failed;
        std::cout << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
    }
    if (failed)
        std::cerr << "vmsg decode: " << failed << " of " << blocks.size() << " blocks failed\n";
    return failed || streamFaults ? kExitBlockFailed : kExitOk;
}

int encode(const Options& options)
{
    const auto id = static_cast<unsigned char>(numberOption(options, "--id", 0, 255, true, 0));
    const auto flags = static_cast<unsigned char>(numberOption(options, "--flags", 0, 255, false, 0));
    auto framing = options.values.find("--framing");
    if (framing != options.values.end() && options.flags.count("--raw"))
        throw UsageError("--raw and --framing exclude each other");
    const std::optional<vmsg::Framing> how =
        framing == options.values.end() ? std::nullopt : std::optional(parseFraming(framing->second));
    const std::vector<unsigned char> block = encodeMessage(id, flags, options.arguments);
    if (how)
        writeRaw(frameBlock(*how, block, "the message"));
    else if (options.flags.count("--raw"))
        writeRaw(block);
    else
        std::cout << hexLine(block) << '\n';
    return kExitOk;
}

int segment(const Options& options)
{
    const auto frame = static_cast<int>(numberOption(options, "--frame", 1, 65535, true, 0));
    const std::vector<Block> blocks = inputBlocks(options, options.flags.count("--raw") != 0);
    std::vector<std::vector<unsigned char>> segments;
    for (const Block& block : blocks) {
        for (auto& piece : segmentBlock(block, frame))
            segments.push_back(std::move(piece));
    }
    printLines(segments);
    return kExitOk;
}

int join(const Options& options)
{
    const std::vector<std::vector<unsigned char>> joined = joinBlocks(inputBlocks(options, false));
    if (!options.flags.count("--raw")) {
        printLines(joined);
        return kExitOk;
    }
    if (joined.size() != 1)
        throw UsageError("--raw writes one message; the input joins into " + std::to_string(joined.size()));
    writeRaw(joined.front());
    return kExitOk;
}

std::optional<vmsg::Framing> framingOption(const Options& options)
{
    auto framing = options.values.find("--framing");
    if (framing == options.values.end())
        return std::nullopt;
    return parseFraming(framing->second);
}

const std::string& urlArgument(const Options& options)
{
    if (options.arguments.size() != 1)
        throw UsageError("expected one URL, found " + std::to_string(options.arguments.size()) + " arguments");
    return options.arguments.front();
}

int send(const Options& options)
{
    return sendBlocks({urlArgument(options), framingOption(options)}, std::cin);
}

int listen(const Options& options)
{
    ListenSettings settings;
    settings.url = urlArgument(options);
    settings.framing = framingOption(options);
    if (auto dict = options.values.find("--dict"); dict != options.values.end())
        settings.dictionary = dict->second;
    settings.json = options.flags.count("--json") != 0;
    if (options.values.count("--count"))
        settings.count = numberOption(options, "--count", 1, 0xffffffffUL, true, 0);
    if (auto timeout = options.values.find("--timeout"); timeout != options.values.end()) {
        std::size_t end = 0;
        double seconds = 0;
        try {
            seconds = std::stod(timeout->second, &end);
        } catch (const std::exception&) {
            end = 0;
        }
        if (end == 0 || end != timeout->second.size() || !(seconds > 0) || seconds > 1e9)
            throw UsageError("--timeout: expected a number of seconds above 0, found '" + timeout->second + "'");
        settings.timeout = seconds;
    }
    return listenBlocks(settings);
}

// A C++ namespace name, nested with '::' if wanted.
std::string checkNamespace(const std::string& name)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find("::", start);
        const std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const bool valid = !part.empty() && !std::isdigit(static_cast<unsigned char>(part[0])) &&
                           std::all_of(part.begin(), part.end(), [](char c) {
                               return c == '_' || std::isalnum(static_cast<unsigned char>(c));
                           }) &&
                           namespaceIdentifier(part) == part;
        if (!valid)
            throw UsageError("--namespace: expected a C++ namespace name such as 'telemetry' or 'app::proto', found '" +
                             name + "'");
        if (end == std::string::npos)
            return name;
        start = end + 2;
    }
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out)
        throw UsageError(path + ": cannot write");
}

int dictionaryDiff(const Options& options)
{
    const std::vector<std::string>& args = options.arguments;
    if (args.size() != 3)
        throw UsageError("expected 'diff OLD NEW'");
    if (options.values.count("--output") || options.values.count("-o") || options.values.count("--namespace"))
        throw UsageError("-o and --namespace are options of gen");
    const vmsg::Dictionary older = dictionaryFile(args[1]);
    const vmsg::Dictionary newer = dictionaryFile(args[2]);
    const std::vector<vmsg::DictionaryChange> changes = vmsg::compare(older, newer);
    std::cout << (options.flags.count("--json") ? diffJson(changes, args[1], args[2]) : diffText(changes, args[1], args[2]));
    const bool breaks = std::any_of(changes.begin(), changes.end(),
                                    [](const auto& change) { return change.kind == vmsg::ChangeKind::Breaking; });
    return breaks ? kExitBlockFailed : kExitOk;
}

int dictionary(const Options& options)
{
    const std::vector<std::string>& args = options.arguments;
    if (!args.empty() && args[0] == "diff")
        return dictionaryDiff(options);
    if (args.empty() || (args[0] != "check" && args[0] != "gen"))
        throw UsageError("expected 'check FILE', 'gen FILE -o HEADER' or 'diff OLD NEW'");
    if (args.size() != 2)
        throw UsageError("expected one dictionary file after '" + args[0] + "'");
    if (options.flags.count("--json"))
        throw UsageError("--json is an option of diff");
    const std::string& path = args[1];
    const bool generate = args[0] == "gen";
    const bool lua = options.flags.count("--lua") != 0;
    if (lua && !generate)
        throw UsageError("--lua is an option of gen");
    if (lua && options.values.count("--namespace"))
        throw UsageError("--namespace is an option of gen for C++, not of gen --lua");
    auto output = options.values.find("--output");
    if (output == options.values.end())
        output = options.values.find("-o");
    if (generate && !lua && output == options.values.end())
        throw UsageError("gen needs -o HEADER");
    if (!generate && (output != options.values.end() || options.values.count("--namespace")))
        throw UsageError("-o and --namespace are options of gen");
    const std::string text = readInput(path); // an unreadable file is a usage error
    std::optional<vmsg::Dictionary> dict;
    try {
        dict.emplace(vmsg::Dictionary::parse(text, path));
    } catch (const vmsg::DictionaryError& error) {
        for (const std::string& line : error.lines())
            std::cout << line << '\n';
        // A file that is not JSON at all is a malformed input file, like an
        // unreadable one (2); problems found in well-formed JSON give 1.
        if (error.syntaxError()) {
            std::cerr << "vmsg dict " << args[0] << ": " << path << ": not valid JSON\n";
            return kExitUsage;
        }
        const std::size_t count = error.problems().size();
        std::cerr << "vmsg dict " << args[0] << ": " << path << ": " << count
                  << (count == 1 ? " problem\n" : " problems\n");
        return kExitBlockFailed;
    }
    const CarrowDictDef& def = dict->def();
    if (!generate) {
        std::cout << path << ": ok: " << unsigned{def.mMsgDefCount} << " messages, " << unsigned{def.mTagDefCount}
                  << " tags, " << unsigned{def.mMetaDefCount} << " meta tags\n";
        return kExitOk;
    }
    if (lua) {
        const std::string chunk = luaDictionary(*dict, path);
        if (output == options.values.end())
            std::cout << chunk;
        else
            writeFile(output->second, chunk);
        return kExitOk;
    }
    GenerateOptions generation = defaultOptions(path, output->second);
    if (auto ns = options.values.find("--namespace"); ns != options.values.end())
        generation.nameSpace = checkNamespace(ns->second);
    writeFile(output->second, generateHeader(*dict, generation));
    return kExitOk;
}

struct Command {
    const char* name;
    const char* help; // with the placeholders of withLimits (Text.h)
    int (*run)(const Options&);
    std::set<std::string> flags;
    std::set<std::string> values;
};

const std::vector<Command>& commands()
{
    static const std::vector<Command> list = {
        {"decode", kDecodeHelp, decode, {"--raw", "--json", "--verbose"}, {"--dict", "--framing"}},
        {"encode", kEncodeHelp, encode, {"--raw", "--verbose"}, {"--id", "--flags", "--framing"}},
        {"segment", kSegmentHelp, segment, {"--raw", "--verbose"}, {"--frame"}},
        {"join", kJoinHelp, join, {"--raw", "--verbose"}, {}},
        {"send", kSendHelp, send, {"--verbose"}, {"--framing"}},
        {"listen", kListenHelp, listen, {"--json", "--verbose"}, {"--framing", "--dict", "--count", "--timeout"}},
        {"dict", kDictHelp, dictionary, {"--verbose", "--json", "--lua"}, {"--output", "-o", "--namespace"}},
    };
    return list;
}

int usage(const std::string& prefix, const std::string& what, const std::string& helpCommand)
{
    std::cerr << prefix << ": " << what << "\nTry '" << helpCommand << " --help'.\n";
    return kExitUsage;
}

int runCommand(const Command& command, int argc, char** argv, int start, bool verbose)
{
    const std::string prefix = std::string("vmsg ") + command.name;
    Options options;
    try {
        options = parseOptions(argc, argv, start, command.flags, command.values);
    } catch (const UsageError& error) {
        return usage(prefix, error.what(), prefix);
    }
    if (options.help) {
        std::cout << withLimits(command.help);
        return kExitOk;
    }
    LogSetup logging(verbose || options.flags.count("--verbose"));
    try {
        return command.run(options);
    } catch (const BlockError& error) {
        std::cerr << prefix << ": " << error.what() << '\n';
        return kExitBlockFailed;
    } catch (const UsageError& error) {
        std::cerr << prefix << ": " << error.what() << '\n';
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << prefix << ": internal error: " << error.what() << '\n';
        return kExitUsage;
    }
}

} // namespace

int runCommandLine(int argc, char** argv)
{
    int next = 1;
    bool verbose = false;
    for (; next < argc && argv[next][0] == '-'; ++next) {
        const std::string arg = argv[next];
        if (arg == "--help" || arg == "-h") {
            std::cout << kMainHelp;
            return kExitOk;
        }
        if (arg == "--version") {
            // VMSG_VERSION is the project's version, set by the build.
            std::cout << "vmsg " VMSG_VERSION "\n";
            return kExitOk;
        }
        if (arg != "--verbose")
            return usage("vmsg", "unknown option '" + arg + "'", "vmsg");
        verbose = true;
    }
    if (next == argc) {
        std::cerr << kMainHelp;
        return kExitUsage;
    }
    for (const Command& command : commands()) {
        if (command.name == std::string(argv[next]))
            return runCommand(command, argc, argv, next + 1, verbose);
    }
    return usage("vmsg", std::string("unknown command '") + argv[next] + "'", "vmsg");
}

} // namespace vmsgtool
