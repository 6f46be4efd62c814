#include "cli_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "scratch_folder.h"
#include "sim/series_writer.h"

extern char** environ;

namespace clitest {

using testutil::readAll;

CliRun runCli(const std::string& program, const std::string& dir, const std::vector<std::string>& args,
              const Conditions& how) {
  const testutil::ScratchFolder capture;
  const std::string outFile = capture.file("out");
  const std::string errFile = capture.file("err");
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "LUMIFOLD_TEST_FAULT=", 20) != 0) environment.push_back(*e);
  }
  if (!how.fault.empty()) environment.push_back("LUMIFOLD_TEST_FAULT=" + how.fault);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const bool asNobody = how.unprivileged && ::geteuid() == 0;
  const rlimit limit{static_cast<rlim_t>(how.fileSizeLimit), static_cast<rlim_t>(how.fileSizeLimit)};

  int errPipe[2] = {-1, -1};
  if (how.signal != 0 && ::pipe(errPipe) != 0) {
    ADD_FAILURE() << "cannot make a pipe";
    return {};
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = how.signal != 0 ? errPipe[1] : ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) _exit(125);
    // The signal acts as on a program started from a terminal, even when
    // the tests run where it is ignored.
    if (how.signal != 0) {
      struct sigaction byDefault {};
      byDefault.sa_handler = SIG_DFL;
      if (::sigaction(how.signal, &byDefault, nullptr) != 0) _exit(125);
    }
    if (::chdir(dir.c_str()) != 0) _exit(125);
    if (how.fileSizeLimit >= 0) {
      // A file that may grow no further fails its write with EFBIG, as a
      // full disk fails it with ENOSPC, instead of ending the program.
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      if (::sigaction(SIGXFSZ, &ignore, nullptr) != 0 || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) _exit(125);
    ::execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  CliRun run;
  if (how.signal != 0) ::close(errPipe[1]);
  if (pid < 0) {
    ADD_FAILURE() << "cannot fork";
    return run;
  }
  if (how.signal != 0) {
    bool sent = false;
    char buffer[4096];
    for (ssize_t n; (n = ::read(errPipe[0], buffer, sizeof buffer)) != 0;) {
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      run.err.append(buffer, static_cast<std::size_t>(n));
      if (!sent && run.err.find(how.signalAt) != std::string::npos) sent = ::kill(pid, how.signal) == 0;
    }
    ::close(errPipe[0]);
    if (!sent) ADD_FAILURE() << "never saw '" << how.signalAt << "' to send the signal";
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.killed = WIFSIGNALED(status);
  run.out = readAll(outFile);
  if (how.signal == 0) run.err = readAll(errFile);
  return run;
}

std::vector<std::string> seriesFrames(const std::string& folder, int n) {
  std::vector<std::string> paths;
  for (int i = 0; i < n; ++i) paths.push_back(folder + "/" + lumifold::frameFileName(i, n));
  return paths;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace clitest
