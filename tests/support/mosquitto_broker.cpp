#include "mosquitto_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace rolta::test {
namespace {

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

bool MakeTestCertificates(const std::filesystem::path& folder) {
  const std::string f = folder.string();
  const std::string quiet = " >/dev/null 2>&1";
  return std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=rolta-test-ca -keyout " + f +
                      "/ca.key -out " + f + "/ca.crt" + quiet)
                         .c_str()) == 0 &&
         std::system(("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + f + "/server.key -out " + f +
                      "/server.csr" + quiet)
                         .c_str()) == 0 &&
         (std::ofstream(folder / "san.ext") << "subjectAltName=IP:127.0.0.1\n").good() &&
         std::system(("openssl x509 -req -in " + f + "/server.csr -CA " + f + "/ca.crt -CAkey " + f +
                      "/ca.key -CAcreateserial -days 2 -extfile " + f + "/san.ext -out " + f + "/server.crt" + quiet)
                         .c_str()) == 0;
}

MosquittoBroker::MosquittoBroker(std::filesystem::path folder, Options options)
    : folder_(std::move(folder)), options_(options), port_(FreePort()) {}

MosquittoBroker::~MosquittoBroker() { Kill(SIGKILL); }

bool MosquittoBroker::Start() {
  const std::filesystem::path config = folder_ / "mosquitto.conf";
  {
    std::ofstream out(config);
    out << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n";
    // Started by root, it would become the mosquitto user, who cannot read the test's private folder.
    if (::geteuid() == 0) out << "user root\n";
    if (options_.tls) {
      out << "cafile " << (folder_ / "ca.crt").string() << "\ncertfile " << (folder_ / "server.crt").string()
          << "\nkeyfile " << (folder_ / "server.key").string() << "\n";
    }
    if (options_.persistence) out << "persistence true\npersistence_location " << folder_.string() << "/\n";
  }
  const std::string configText = config.string();
  std::vector<char*> argv{const_cast<char*>("mosquitto"), const_cast<char*>("-c"),
                          const_cast<char*>(configText.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string logFile = (folder_ / "mosquitto.log").string();
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  const int rc = posix_spawnp(&pid_, "mosquitto", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return false;
  }
  for (int i = 0; i < 500; ++i) {
    if (Accepts(port_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void MosquittoBroker::Kill(int signal) {
  if (pid_ <= 0) return;
  ::kill(pid_, signal);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace rolta::test
