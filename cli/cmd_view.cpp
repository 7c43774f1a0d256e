// tova view: looks at a recording in the browser, served by the tool itself
// on 127.0.0.1.
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "args.h"
#include "commands.h"
#include "document.h"
#include "errors.h"
#include "recording.h"
#include "viewer_server.h"

extern char** environ;

namespace tova_cli {

const char* const kViewHelp =
    "Usage: tova view FILE [--port N] [--open]\n"
    "\n"
    "Serves one recording to the browser on 127.0.0.1 and prints the address;\n"
    "Ctrl+C stops. The page needs no network: the tool carries it.\n"
    "\n"
    "The page shows the frame in the false colour of 'tova export' with its\n"
    "colour bar (the stored display scale, the frame's range or a low/high of\n"
    "your own), a frame slider, play/pause at the recording's rate, the frame's\n"
    "time stamp, the temperature under the cursor, and what 'tova info' shows\n"
    "with the rendered entries of the current frame. Click the image to pin a\n"
    "spot, drag to draw a rectangle: a plot shows the spot's temperature (the\n"
    "rectangle's min, mean and max) over the whole recording.\n"
    "\n"
    "Keys: Left/Right a frame back/on, Page Up/Down ten, Home/End first/last,\n"
    "Space play/pause.\n"
    "\n"
    "Options:\n"
    "  --port N   the port (default 8470; 0 lets the system choose a free one)\n"
    "  --open     opens the page in the desktop's browser (xdg-open)\n"
    "\n"
    "Example:\n"
    "  tova view sample.tova --open\n";

namespace {

constexpr int kDefaultPort = 8470;

// Runs a program and returns what it printed on stdout; empty on failure.
std::string Output(std::vector<std::string> words) {
  int fds[2];
  if (::pipe(fds) != 0) return "";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::string text;
  if (rc == 0) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
      if (n > 0) text.append(buf, static_cast<size_t>(n));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text.clear();
  }
  ::close(fds[0]);
  return text;
}

// What "tova info FILE" prints, from this very program.
std::string InfoText(const std::string& path) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = '\0';
  return Output({self, "info", "--", path});
}

}  // namespace

int RunView(const Words& words) {
  const Args args(words, {{"--port", "", true}, {"--open", "", false}});
  if (args.help()) return PrintHelp(kViewHelp);
  if (args.positional().size() != 1) throw UsageError(args.positional().empty() ? "missing FILE" : "too many files");
  const int port = static_cast<int>(args.number("--port", 65535).value_or(kDefaultPort));
#ifndef TOVA_CLI_HAVE_HTTPLIB
  (void)port;
  throw CliError("this tova was built without cpp-httplib (install libcpp-httplib-dev and rebuild)");
#else

  Recording recording(args.positional()[0]);
  std::string info = InfoText(recording.path());
  if (info.empty()) info = "(tova info could not describe the recording)";

  // SIGINT and SIGTERM are taken by one thread, which stops the server: the
  // others (the server's) never see them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  ViewerServer server(recording, info);
  const int bound = server.Bind(port);
  const std::string url = "http://127.0.0.1:" + std::to_string(bound) + "/";
  std::printf("Serving %s at %s (Ctrl+C stops)\n", Quote(recording.path()).c_str(), url.c_str());
  std::fflush(stdout);

  if (args.has("--open")) {
    std::vector<std::string> open = {"xdg-open", url};
    std::vector<char*> argv = {open[0].data(), open[1].data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv.data(), environ) != 0)
      std::fprintf(stderr, "tova view: cannot open a browser (xdg-open is missing); open %s yourself\n", url.c_str());
  }

  std::thread stopper([&server, stop_signals] {
    int signal = 0;
    sigwait(&stop_signals, &signal);
    server.Stop();
  });
  server.Run();
  // The server may end for reasons of its own: the waiting thread is woken.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  std::printf("Stopped.\n");
  return kExitOk;
#endif
}

}  // namespace tova_cli
