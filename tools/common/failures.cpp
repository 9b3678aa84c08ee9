#include "failures.h"

#include <new>
#include <ostream>

namespace quorb {

void sayTo(std::ostream& out, const char* program, const std::string& text) {
  std::string lines;
  size_t start = 0;
  do {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    if (!line.empty()) lines += std::string(program) + ": " + line + '\n';
    start = end == std::string::npos ? end : end + 1;
  } while (start != std::string::npos && start < text.size());
  out << lines << std::flush;
}

int attempt(const char* program, std::ostream& err, const std::function<void()>& work) {
  try {
    work();
    return EXIT_DONE;
  } catch (const UsageError& error) {
    sayTo(err, program, error.what());
    return EXIT_BAD_ARGUMENTS;
  } catch (const std::invalid_argument& error) {
    sayTo(err, program, error.what());
    return EXIT_BAD_ARGUMENTS;
  } catch (const std::bad_alloc&) {
    sayTo(err, program, "not enough memory");
    return EXIT_FILE_TROUBLE;
  } catch (const std::exception& error) {
    sayTo(err, program, error.what());
    return EXIT_FILE_TROUBLE;
  }
}

} // namespace quorb
