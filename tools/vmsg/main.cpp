// vmsg: looks into message blocks and crafts them.
#include "Cli.h"

int main(int argc, char** argv)
{
    return vmsgtool::runCommandLine(argc, argv);
}
