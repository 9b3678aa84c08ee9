#ifndef QUORB_TESTS_E2E_STARTED_PROGRAM_H
#define QUORB_TESTS_E2E_STARTED_PROGRAM_H

// A program started the way a host may start one while recording: with every inheritable
// descriptor or handle of the process passed on (posix_spawn; CreateProcess with handle
// inheritance on). The program is hold_file, which holds a file of its own and runs until its
// standard input ends, when this object goes away.

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

class StartedProgram {
public:
  StartedProgram(const std::string& program, const std::string& argument) {
#ifdef _WIN32
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &input_, &inherit, 0)) return;
    if (!CreatePipe(&output_, &childOut, &inherit, 0)) return;
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string line = "\"" + program + "\" \"" + argument + "\"";
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &started);
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!ok) return;
    CloseHandle(started.hThread);
    process_ = started.hProcess;
    char held[5] = {};
    DWORD got = 0;
    running_ =
        ReadFile(output_, held, 4, &got, nullptr) && got == 4 && std::string(held, 4) == "held";
#else
    int in[2], out[2];
    if (pipe(in) != 0) return;
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string name = program, arg = argument;
    char* argv[] = {name.data(), arg.data(), nullptr};
    const bool ok = posix_spawn(&pid_, name.c_str(), &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (!ok) {
      pid_ = -1;
      return;
    }
    char held[4] = {};
    running_ = ::read(output_, held, 4) == 4 && std::string(held, 4) == "held";
#endif
  }

  ~StartedProgram() {
#ifdef _WIN32
    if (input_ != nullptr) CloseHandle(input_);
    if (process_ != nullptr) {
      WaitForSingleObject(process_, 30000);
      CloseHandle(process_);
    }
    if (output_ != nullptr) CloseHandle(output_);
#else
    if (input_ >= 0) ::close(input_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    if (output_ >= 0) ::close(output_);
#endif
  }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  bool running() const { return running_; }

private:
  bool running_ = false;
#ifdef _WIN32
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  HANDLE process_ = nullptr;
#else
  int input_ = -1;
  int output_ = -1;
  pid_t pid_ = -1;
#endif
};

#endif // QUORB_TESTS_E2E_STARTED_PROGRAM_H
