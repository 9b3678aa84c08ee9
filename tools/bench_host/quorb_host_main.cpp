#include <iostream>

#include "quorb_host.h"

int main(int argc, char** argv) { return runQuorbHost(argc, argv, std::cout, std::cerr); }
