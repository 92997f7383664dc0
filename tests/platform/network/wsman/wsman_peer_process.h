// The WS-Management test service (tests/tools/wsman_peer) as a child process
// on a free loopback port, stopped when the object goes.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostlore::test {

struct WsmanPeerOptions {
  std::string computer;  // path of the lab computer's JSON file
  std::string netns;     // the network namespace to run in; empty: this one
  std::string bind = "127.0.0.1";
  int port = 0;          // 0: a free one
  std::string tls_cert;  // with tls_key: serve HTTPS
  std::string tls_key;
  bool strict_channel_binding = false;  // over HTTPS, refuse unbound clients
  int page = 0;        // at most this many instances per response (0: as asked)
  int delay_ms = 0;    // what every reply costs
  int stop_after = 0;  // pages served before the service stops (0: never)
  std::string log;     // file of one line per request
  // Environment of the service: KRB5_CONFIG, KRB5_KTNAME, NTLM_USER_FILE.
  std::vector<std::pair<std::string, std::string>> env;
};

// Makes a throwaway authority (DIR/ca.pem) and a certificate for
// 127.0.0.1 signed by it (DIR/peer.pem, DIR/peer.key) with openssl; false
// when openssl cannot.
bool MakeTestCertificates(const std::string& dir);

class WsmanPeerProcess {
  class Key {
    friend class WsmanPeerProcess;
    Key() = default;
  };

 public:
  // nullptr with `why_not` filled when the service does not start (no
  // Debian python3 or python3-gssapi, say).
  static std::unique_ptr<WsmanPeerProcess> Start(const WsmanPeerOptions& options,
                                                 std::string& why_not);

  explicit WsmanPeerProcess(Key) {}
  WsmanPeerProcess(const WsmanPeerProcess&) = delete;
  WsmanPeerProcess& operator=(const WsmanPeerProcess&) = delete;
  ~WsmanPeerProcess();

  int port() const { return port_; }

 private:
  int pid_ = -1;
  int port_ = 0;
};

// The same service answering request envelopes over pipes (its --stdio
// mode): the messages alone, without HTTP or authentication.
class WsmanPeerStdio {
  class Key {
    friend class WsmanPeerStdio;
    Key() = default;
  };

 public:
  // nullptr with `why_not` filled when the service does not start.
  static std::unique_ptr<WsmanPeerStdio> Start(const std::string& computer, std::string& why_not);

  explicit WsmanPeerStdio(Key) {}
  WsmanPeerStdio(const WsmanPeerStdio&) = delete;
  WsmanPeerStdio& operator=(const WsmanPeerStdio&) = delete;
  ~WsmanPeerStdio();

  // The HTTP status and SOAP text of the reply to `request` (one line);
  // status 0 when none came.
  std::pair<int, std::string> Ask(std::string_view request);

 private:
  int pid_ = -1;
  int to_peer_ = -1;
  int from_peer_ = -1;
};

}  // namespace hostlore::test
