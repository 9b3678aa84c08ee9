#include <iostream>

#include "console.h"
#include "quorb_host.h"

int main(int argc, char** argv) {
  quorb::setUpConsole();
  const int code = runQuorbHost(argc, argv, std::cout, std::cerr);
  std::cout.flush();
  quorb::holdConsoleIfOwn();
  return code;
}
