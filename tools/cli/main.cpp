// qvvcard: vCard 3.0 cards from the command line, CSV or JSON Lines.
#include "cli/commands.hpp"

int main(int argc, char** argv) { return qvvcard::Main(argc, argv, qvvcard::NoSeams()); }
