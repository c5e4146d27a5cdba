#include "Process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace quorlan::testing {

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

Process::Process(const std::vector<std::string>& args) {
  // A command that ends before reading its input must not kill the test.
  ::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (::pipe(in) || ::pipe(out) || ::pipe(err)) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (failed) throw std::runtime_error("cannot start " + args.front());
}

Process::~Process() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Finish();
  }
}

void Process::Write(const std::string& text) {
  if (in_ >= 0 && ::write(in_, text.data(), text.size()) < 0) CloseInput();
}

void Process::CloseInput() {
  CloseFd(in_);
}

std::string Process::ReadLine() {
  char ch;
  while (outBuffer_.find('\n') == std::string::npos && ::read(out_, &ch, 1) == 1) {
    outBuffer_ += ch;
  }
  const auto end = outBuffer_.find('\n');
  std::string line = outBuffer_.substr(0, end);
  outBuffer_.erase(0, end == std::string::npos ? std::string::npos : end + 1);
  return line;
}

void Process::Signal(int signal) {
  // Once the child is reaped pid_ is -1, and kill(-1) would signal every
  // process this user may signal, the test runner's shell included.
  if (pid_ > 0) ::kill(pid_, signal);
}

ProcessResult Process::Finish() {
  CloseInput();
  ProcessResult result;
  std::thread errReader([&] { result.err = ReadAll(err_); });
  result.out = outBuffer_ + ReadAll(out_);
  outBuffer_.clear();
  errReader.join();
  CloseFd(out_);
  CloseFd(err_);
  int status = 0;
  if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_ = -1;
  return result;
}

ProcessResult RunQuorlan(const std::vector<std::string>& args, const std::string& input) {
  std::vector<std::string> argv{QUORLAN_CLI_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  Process process(argv);
  process.Write(input);
  return process.Finish();
}

}  // namespace quorlan::testing
