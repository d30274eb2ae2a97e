// The command line of the vmsg tool: option parsing and the four commands.
#ifndef VMSG_TOOL_CLI_H
#define VMSG_TOOL_CLI_H

namespace vmsgtool {

/// Runs the command that @p argv names and returns the exit status:
/// 0 ok, 1 a block failed to parse or validate, 2 usage or file error.
int runCommandLine(int argc, char** argv);

} // namespace vmsgtool

#endif
