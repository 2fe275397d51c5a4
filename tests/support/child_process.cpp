#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

extern char** environ;

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    const std::string name(*entry, equals ? static_cast<size_t>(equals - *entry) : 0);
    bool overridden = false;
    for (const std::string& item : extra)
      overridden = overridden || item.compare(0, name.size() + 1, name + "=") == 0;
    if (!overridden)
      merged.emplace_back(*entry);
  }
  merged.insert(merged.end(), extra.begin(), extra.end());
  return merged;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings)
    result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Starts `argv` with standard input from /dev/null, standard output into
// `out` (or left alone when it is -1) and standard error into `err` (likewise).
pid_t startChild(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 int out, int err) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = mergedEnvironment(environment);
  std::vector<char*> argp = pointers(args);
  std::vector<char*> envp = pointers(env);
  const pid_t pid = fork();
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    if (out >= 0)
      dup2(out, 1);
    if (err >= 0)
      dup2(err, 2);
    // Only the three standard streams: whatever else the test holds open
    // (a listening socket, say) is none of the child's business.
    close_range(3, ~0U, 0);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

ChildResult runChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment, int timeoutMs,
                     const std::function<void(int)>& started) {
  ChildResult result;
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
    return result;
  const pid_t pid = startChild(argv, environment, outPipe[1], errPipe[1]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (started)
    started(pid);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  int status = 0;
  bool exited = false;
  while (open > 0) {
    if (!exited)
      exited = waitpid(pid, &status, WNOHANG) == pid;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!exited && left.count() <= 0) {
      kill(pid, SIGKILL);
      result.timedOut = true;
      break;
    }
    // Once the child is gone all it wrote is in the pipes. Processes it
    // started may hold them open for long after (wine's helpers do), so
    // stop at the first moment nothing is left to read.
    const int wait = exited ? 0 : static_cast<int>(std::min<long long>(left.count(), 20));
    const int ready = poll(fds, 2, wait);
    if (ready == 0 && exited)
      break;
    if (ready <= 0)
      continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0)
      close(fd.fd);
  }

  if (!exited)
    waitpid(pid, &status, 0);
  if (WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.signal = WTERMSIG(status);
  return result;
}

BackgroundChild::BackgroundChild(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& environment) {
  int outPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0)
    return;
  pid_ = startChild(argv, environment, outPipe[1], -1);
  close(outPipe[1]);
  out_ = outPipe[0];
}

BackgroundChild::~BackgroundChild() {
  if (stop(0, 0) == -1 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0)
    close(out_);
}

std::string BackgroundChild::readLine(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p = {out_, POLLIN, 0};
    if (out_ < 0 || left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
      return "";
    char buffer[512];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0)
      return "";
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

int BackgroundChild::stop(int signal, int timeoutMs) {
  if (pid_ <= 0)
    return -1;
  if (signal != 0)
    kill(pid_, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() >= deadline)
      return -1;
    usleep(10 * 1000);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
