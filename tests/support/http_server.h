#ifndef ZEPH_TESTS_SUPPORT_HTTP_SERVER_H_
#define ZEPH_TESTS_SUPPORT_HTTP_SERVER_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zeph::test_support {

/// What the server does with one connection, after reading its request head.
struct ScriptedReply {
  int status = 200;
  std::string body;
  std::chrono::milliseconds delay{0};  // before the status line
  bool neverAnswer = false;            // hold the connection open until the server stops
  std::size_t trickleBytes = 0;        // 0: the body in one piece; else pieces of this size
  std::chrono::milliseconds trickleInterval{0};
};

inline ScriptedReply jsonReply(std::string body, int status = 200) {
  ScriptedReply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}
inline ScriptedReply delayedReply(std::string body, std::chrono::milliseconds delay) {
  ScriptedReply reply = jsonReply(std::move(body));
  reply.delay = delay;
  return reply;
}
inline ScriptedReply trickledReply(std::string body, std::size_t bytes, std::chrono::milliseconds interval) {
  ScriptedReply reply = jsonReply(std::move(body));
  reply.trickleBytes = bytes;
  reply.trickleInterval = interval;
  return reply;
}
inline ScriptedReply neverAnswering() {
  ScriptedReply reply;
  reply.neverAnswer = true;
  return reply;
}

/// Readies a socket the tests made: closed in the programs they start, and
/// without SIGPIPE when the peer has gone. macOS has neither SOCK_CLOEXEC nor
/// accept4, nor MSG_NOSIGNAL in every version; it has SO_NOSIGPIPE instead.
/// Returns `fd`, or -1 (closing it) when it cannot be readied.
inline int readySocket(int fd) {
  if (fd < 0) return -1;
  bool ready = ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
#ifdef SO_NOSIGPIPE
  int on = 1;
  ready = ready && ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) == 0;
#endif
  if (!ready) {
    ::close(fd);
    return -1;
  }
  return fd;
}

/// A TCP socket readied as above, or -1.
inline int tcpSocket() { return readySocket(::socket(AF_INET, SOCK_STREAM, 0)); }

/// The request line and headers a client sent, split for assertions.
struct ReceivedRequest {
  std::string requestLine;
  std::vector<std::pair<std::string, std::string>> headers;  // in the order sent
};

inline ReceivedRequest parseRequestHead(const std::string& head) {
  ReceivedRequest request;
  std::size_t at = head.find("\r\n");
  request.requestLine = head.substr(0, at);
  while (at != std::string::npos) {
    std::size_t start = at + 2;
    at = head.find("\r\n", start);
    std::string line = head.substr(start, at == std::string::npos ? std::string::npos : at - start);
    if (line.empty()) break;
    std::size_t colon = line.find(':');
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    request.headers.emplace_back(line.substr(0, colon), value);
  }
  return request;
}

/// A one-thread HTTP/1.1 server on 127.0.0.1 at a port the kernel picks.
/// Connections are served one at a time, in order, each with the next
/// scripted reply (the last one repeats) and then closed. It records each
/// raw request head. Stopping (the destructor) ends any wait at once.
class LoopbackHttpServer {
 public:
  explicit LoopbackHttpServer(std::vector<ScriptedReply> replies) : replies_(std::move(replies)) {
    if (replies_.empty()) throw std::invalid_argument("no scripted reply");
    if (::pipe(stop_) != 0) throw std::runtime_error("pipe");
    listen_ = tcpSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_, 8) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  explicit LoopbackHttpServer(ScriptedReply reply)
      : LoopbackHttpServer(std::vector<ScriptedReply>{std::move(reply)}) {}

  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  ~LoopbackHttpServer() {
    char byte = 0;
    (void)!::write(stop_[1], &byte, 1);
    thread_.join();
    ::close(listen_);
    ::close(stop_[0]);
    ::close(stop_[1]);
  }

  /// "http://127.0.0.1:PORT" with no trailing slash.
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  /// Waits until `count` replies have been sent in full; false if `limit` passes first.
  bool waitForReplies(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return repliesSent_ >= count; });
  }

 private:
  // Waits for `fd` to be readable; false when the server is stopping.
  bool waitReadable(int fd) const {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    int n = ::poll(fds, 2, -1);
    return n > 0 && (fds[1].revents & POLLIN) == 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
  // Sleeps for `d`; false when the server is stopping.
  bool pause(std::chrono::milliseconds d) const {
    pollfd stop = {stop_[0], POLLIN, 0};
    return ::poll(&stop, 1, static_cast<int>(d.count())) == 0;
  }
  static void sendAll(int fd, const std::string& bytes) {
#ifdef MSG_NOSIGNAL
    constexpr int kFlags = MSG_NOSIGNAL;
#else
    constexpr int kFlags = 0;  // SO_NOSIGPIPE covers it
#endif
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, kFlags);
      if (n <= 0) return;  // the client has gone
      done += static_cast<std::size_t>(n);
    }
  }

  void serve() {
    for (std::size_t served = 0;; ++served) {
      if (!waitReadable(listen_)) return;
      int client = readySocket(::accept(listen_, nullptr, nullptr));
      if (client < 0) continue;
      const ScriptedReply& reply = replies_[std::min(served, replies_.size() - 1)];
      bool stopping = !answer(client, reply);
      ::close(client);
      if (stopping) return;
    }
  }

  // False when the server started stopping meanwhile.
  bool answer(int client, const ScriptedReply& reply) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (!waitReadable(client)) return false;
      ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) return true;
      head.append(buffer, static_cast<std::size_t>(n));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head.substr(0, head.find("\r\n\r\n") + 4));
    }
    if (reply.neverAnswer) return pause(std::chrono::hours(1));
    if (!pause(reply.delay)) return false;
    sendAll(client, "HTTP/1.1 " + std::to_string(reply.status) +
                        " Scripted\r\n"
                        "Content-Type: application/json\r\n"
                        "Content-Length: " +
                        std::to_string(reply.body.size()) +
                        "\r\n"
                        "Connection: close\r\n\r\n");
    if (reply.trickleBytes == 0) {
      sendAll(client, reply.body);
    } else {
      for (std::size_t at = 0; at < reply.body.size(); at += reply.trickleBytes) {
        if (at > 0 && !pause(reply.trickleInterval)) return false;
        sendAll(client, reply.body.substr(at, reply.trickleBytes));
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++repliesSent_;
    changed_.notify_all();
    return true;
  }

  const std::vector<ScriptedReply> replies_;
  int stop_[2] = {-1, -1};  // a byte in the pipe means: stop
  int listen_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> requests_;  // guarded by mutex_
  std::size_t repliesSent_ = 0;        // guarded by mutex_
  std::thread thread_;                 // started last, joined by the destructor
};

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_HTTP_SERVER_H_
