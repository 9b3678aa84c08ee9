#include <iostream>

#include "quorb_host.h"
#include "tool_support.h"

int main(int argc, char** argv) {
  quorb::setUpConsole();
  const int code = runQuorbHost(argc, argv, std::cout, std::cerr);
  std::cout.flush();
  quorb::holdConsoleIfOwn();
  return code;
}
