#include "x_session.h"

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

namespace {

// Starts args[0] from PATH with args, its output going nowhere; -1 and the
// reason in error when it cannot be started. Descriptors without
// close-on-exec are inherited. The program is ended with this process, even
// when this process is killed or aborts, so no display is left behind.
pid_t spawn(const std::vector<std::string>& args, QString& error) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The child reports a failed exec through this pipe; a successful one
  // closes it.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    error = QStringLiteral("no pipe to start %1").arg(QString::fromStdString(args[0]));
    return -1;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  int failure = errno;
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp(argv[0], argv.data());
    failure = errno;
    (void)!write(report[1], &failure, sizeof failure);
    _exit(127);
  }
  close(report[1]);
  const ssize_t got = pid > 0 ? read(report[0], &failure, sizeof failure) : 0;
  close(report[0]);
  if (pid < 0 || got == static_cast<ssize_t>(sizeof failure)) {
    if (pid > 0) waitpid(pid, nullptr, 0);
    error = QStringLiteral("cannot start %1: %2")
                .arg(QString::fromStdString(args[0]), QString::fromLocal8Bit(std::strerror(failure)));
    return -1;
  }
  return pid;
}

void end(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  pid = -1;
}

// True when the process has already ended.
bool ended(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

XSession::XSession() {
  start();
  if (!ready()) {
    end(windowManager_);
    end(server_);
  }
}

XSession::~XSession() {
  end(windowManager_);
  end(server_);
}

void XSession::start() {
  // Xvfb picks a free display itself and writes its number to the pipe once
  // it accepts clients.
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    reason_ = QStringLiteral("no pipe for Xvfb");
    return;
  }
  fcntl(pipeEnds[0], F_SETFD, FD_CLOEXEC);
  const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
  server_ = spawn({"Xvfb", "-displayfd", std::to_string(pipeEnds[1]), "-screen", "0", screen, "-nolisten", "tcp"},
                  reason_);
  close(pipeEnds[1]);
  std::string number;
  if (server_ > 0) {
    // A loaded machine may take a few seconds.
    pollfd wait{pipeEnds[0], POLLIN, 0};
    char c = 0;
    while (poll(&wait, 1, 20000) == 1 && read(pipeEnds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
    if (number.empty()) reason_ = QStringLiteral("Xvfb did not start a display");
  }
  close(pipeEnds[0]);
  if (!ready()) return;

  const std::string display = ":" + number;
  setenv("DISPLAY", display.c_str(), 1);
  windowManager_ = spawn({"openbox", "--sm-disable"}, reason_);
  if (!ready()) return;
  // A window manager that fails at once (no display, bad setup) is seen
  // here; one that comes up late is waited for by waitForWindowManager.
  usleep(100 * 1000);
  if (ended(windowManager_)) {
    windowManager_ = -1;
    reason_ = QStringLiteral("openbox ended at once");
    return;
  }
  setenv("QT_QPA_PLATFORM", "xcb", 1);
}

bool waitForWindowManager() {
  QWidget probe;
  probe.resize(100, 100);
  // A window mapped while the window manager is still starting may never
  // be managed: it is shown again until it is framed.
  for (int attempt = 0; attempt < 10; ++attempt) {
    probe.show();
    if (waitUntilFramed(&probe, 2000)) return true;
    probe.hide();
  }
  return false;
}

bool waitUntilFramed(const QWidget* w, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  QRect last;
  int steady = 0;
  while (clock.elapsed() < timeoutMs) {
    QTest::qWait(25);
    const QWindow* handle = w->windowHandle();
    if (!handle || !handle->isExposed() || handle->frameMargins().isNull()) {
      steady = 0;
      continue;
    }
    const QRect now = w->frameGeometry();
    steady = now == last ? steady + 1 : 0;
    last = now;
    // Still for a tenth of a second: the window manager is done with it.
    if (steady >= 4) return true;
  }
  return false;
}

}  // namespace testutil
