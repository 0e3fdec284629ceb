// A bash completion script made from the command line's own definition:
// its subcommands and options, the values some options take, and the
// property names.
#ifndef QVVCARD_CLI_COMPLETION_HPP
#define QVVCARD_CLI_COMPLETION_HPP

#include <string>

namespace CLI {
class App;
}

namespace qvvcard {

std::string BashCompletion(const CLI::App& app);

}  // namespace qvvcard

#endif
