#include "x_display.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace lanternfly::test {

pid_t startXServer(std::string& display) {
  // The display number comes back through a pipe once the server is ready.
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c = 0;
  while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (!number.empty()) display = ":" + number;
  return pid;
}

void stopXServer(pid_t server) {
  if (server <= 0) return;
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
}

Window windowNamed(Display* x, const char* title) {
  Window root = 0, parent = 0, found = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) return 0;
  for (unsigned int i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    XWindowAttributes a;
    if (XFetchName(x, children[i], &name) && name != nullptr) {
      if (std::strcmp(name, title) == 0 && XGetWindowAttributes(x, children[i], &a) &&
          a.map_state == IsViewable) {
        found = children[i];
      }
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

bool waitForWindow(Display* x, const char* title, bool present, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if ((windowNamed(x, title) != 0) == present) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace lanternfly::test
