// A real Mosquitto broker for tests, on 127.0.0.1 at a free port, with its
// configuration written into a test's folder; killed and started again on
// the same port when a test asks. Optionally TLS with a CA made for the test.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace rolta::test {

// A CA and a server certificate for 127.0.0.1 signed by it, made with the
// openssl program in `folder`: ca.crt, server.crt, server.key.
bool MakeTestCertificates(const std::filesystem::path& folder);

class MosquittoBroker {
 public:
  struct Options {
    bool tls = false;          // the certificates of MakeTestCertificates in the folder
    bool persistence = false;  // sessions and queued messages survive a restart
  };
  MosquittoBroker(std::filesystem::path folder, Options options);
  ~MosquittoBroker();
  MosquittoBroker(const MosquittoBroker&) = delete;
  MosquittoBroker& operator=(const MosquittoBroker&) = delete;

  // Starts it and waits until it takes connections; again after Kill on the same port.
  bool Start();
  // Ends it with the signal and waits for it.
  void Kill(int signal);
  int Port() const { return port_; }

 private:
  std::filesystem::path folder_;
  Options options_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace rolta::test
