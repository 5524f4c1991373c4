#include <iostream>

#include "cli/command.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return qvl::cli::RunCli(arguments, std::cout, std::cerr);
}
