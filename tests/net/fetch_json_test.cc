#include "net/fetch_json.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "base/process_values.h"
#include "net/curl_library.h"
#include "net/fetch_json_internal.h"
#include "support/http_server.h"

namespace zeph {
namespace {

using test_support::delayedReply;
using test_support::jsonReply;
using test_support::LoopbackHttpServer;
using test_support::neverAnswering;
using test_support::ScriptedReply;
using test_support::trickledReply;
using namespace std::chrono_literals;

// Short timeouts keep these tests quick; what is checked is the result, not the time taken.
constexpr double kShortTimeout = 0.3;

std::optional<nlohmann::json> fetchFrom(const LoopbackHttpServer& server, double timeout = 5) {
  return fetchJSON(server.origin() + "/", timeout);
}

TEST(FetchJson, ResultIsAWholeObjectOrArrayBodyInTimeWhateverTheStatus) {
  using nlohmann::json;
  const std::string fits(detail::kMaxJsonBody - 4,
                         'x');  // with its quotes and brackets, just under the limit
  struct Case {
    const char* what;
    ScriptedReply reply;
    std::optional<json> result;
    double timeout = 5;
  };
  const Case cases[] = {
      {"error status, JSON body", jsonReply(R"({"error":"no such thing"})", 404),
       json{{"error", "no such thing"}}},
      {"server error, JSON body", jsonReply(R"({"error":"no such thing"})", 500),
       json{{"error", "no such thing"}}},
      {"array", jsonReply(R"([{"lat":"1"},2,null])"), json::array({json{{"lat", "1"}}, 2, nullptr})},
      {"trickled within the time", trickledReply(R"({"city":"Oslo"})", 3, 10ms), json{{"city", "Oslo"}}},
      {"just under the size limit", jsonReply("[\"" + fits + "\"]"), json::array({fits})},
      {"past the size limit", jsonReply("[\"" + std::string(detail::kMaxJsonBody, 'x') + "\"]"),
       std::nullopt},
      {"never answers", neverAnswering(), std::nullopt, kShortTimeout},
      {"reply after the timeout", delayedReply(R"({"late":true})", 1500ms), std::nullopt, kShortTimeout},
      // A body trickling on past the timeout is not waited for either.
      {"trickling past the timeout", trickledReply(std::string(200, ' ') + "{}", 1, 50ms), std::nullopt,
       kShortTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoopbackHttpServer server(c.reply);
    EXPECT_EQ(fetchFrom(server, c.timeout), c.result);
    EXPECT_EQ(server.requests().size(), 1u);
  }
  // Bodies that are not an object or array.
  for (const char* body :
       {"", "\"just a string\"", "42", "true", "null", "{\"open\": ", "<html></html>", "{} trailing",
        "\xEF\xBB\xBF"
        "{\"bad utf8\": \"\xFF\"}"}) {
    LoopbackHttpServer server(jsonReply(body));
    EXPECT_FALSE(fetchFrom(server)) << body;
  }
}

TEST(FetchJson, ReplyLandingAfterTheCallerLeftChangesNothing) {
  // The transfer may go on after its caller has stopped waiting; its result
  // goes nowhere, and the next fetch is not disturbed by it.
  LoopbackHttpServer late(delayedReply(R"({"late":true})", 400ms));
  EXPECT_FALSE(detail::fetchJSONWithin(late.origin() + "/", 5, 0.05));
  LoopbackHttpServer next(jsonReply(R"({"next":true})"));
  std::optional<nlohmann::json> reply = fetchFrom(next);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, nlohmann::json({{"next", true}}));
  late.waitForReplies(1, 3s);
  // The abandoned worker ends on its own, well within the bound the process end waits.
  EXPECT_TRUE(detail::waitForLookupWorkers(3s));
}

TEST(FetchJson, CallerStopsWaitingAtItsDeadlineWhateverTheWorkerDoes) {
  LoopbackHttpServer silent(neverAnswering());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(detail::fetchJSONWithin(silent.origin() + "/", 30, 0.2));
  // Generous for loaded machines and the sanitizers, far below the transfer's 30 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_TRUE(detail::waitForLookupWorkers(5s));
}

// Runs after the installer's own wait at process end, having been registered before it.
void reportWorkersLeftAtExit() {
  std::fputs(detail::waitForLookupWorkers(0ms) ? "no worker left\n" : "a worker left running\n", stderr);
}

TEST(FetchJsonDeathTest, ProcessEndWaitsForAWorkerStillInsideLibcurl) {
  // A fresh process, so that no exit handler of an earlier lookup is registered yet.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  LoopbackHttpServer late(delayedReply("{}", 800ms));
  EXPECT_EXIT(
      {
        std::atexit(reportWorkersLeftAtExit);
        (void)detail::fetchJSONWithin(late.origin() + "/", 5, 0.05);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "no worker left");
}

// A JSON document on disk, readable through file:// only when the protocol limit did not take.
class JsonFile {
 public:
  JsonFile()
      : path_(std::filesystem::temp_directory_path() /
              ("zeph-fetch-" + std::to_string(::getpid()) + ".json")) {
    std::ofstream(path_) << R"({"from":"disk"})";
  }
  ~JsonFile() { std::filesystem::remove(path_); }
  std::string url() const { return "file://" + path_.string(); }

 private:
  std::filesystem::path path_;
};

TEST(FetchJson, NothingListeningOrNoHttpUrlGivesNone) {
  // A bound socket that does not listen keeps its port from anyone else and refuses connections.
  int socketFd = test_support::tcpSocket();
  ASSERT_GE(socketFd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  JsonFile file;  // file URLs are refused even for JSON
  for (const std::string& url :
       {"http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/", std::string("not a url"),
        std::string("ftp://127.0.0.1/x.json"), file.url()}) {
    EXPECT_FALSE(fetchJSON(url, kShortTimeout)) << url;
  }
  ::close(socketFd);
}

// A libcurl that refuses some options as unknown, as an older or smaller
// build does, and passes every other one to the real library. It records the
// protocol bit mask it is given.
struct RefusingCurl {
  static inline std::set<long> refused;  // option numbers; set while no worker runs
  static inline std::atomic<long> protocolMask{-1};

  static CURLcode setopt(CURL* handle, CURLoption option, ...) {
    if (refused.count(option) != 0) return CURLE_UNKNOWN_OPTION;
    va_list args;
    // The signature is libcurl's own; CURLoption is int-sized, so promoting it changes nothing.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
    va_start(args, option);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    CURLcode result;
    // The option number says the argument's type; function pointers travel
    // as pointers on every platform we build for.
    if (option < CURLOPTTYPE_OBJECTPOINT) {
      long value = va_arg(args, long);
      if (option == kProtocolsMask) protocolMask = value;
      result = curlLibrary()->easySetopt(handle, option, value);
    } else if (option < CURLOPTTYPE_OFF_T) {
      result = curlLibrary()->easySetopt(handle, option, va_arg(args, void*));
    } else {
      result = curlLibrary()->easySetopt(handle, option, va_arg(args, curl_off_t));
    }
    va_end(args);
    return result;
  }

  static const CurlLibrary& refusing(std::set<long> options) {
    // Workers of earlier tests read `refused`: none may be left.
    EXPECT_TRUE(detail::waitForLookupWorkers(10s));
    refused = std::move(options);
    protocolMask = -1;
    static const CurlLibrary library = [] {
      CurlLibrary copy = *curlLibrary();
      copy.easySetopt = setopt;
      return copy;
    }();
    return library;
  }

  static constexpr long kProtocolsMask = CURLOPTTYPE_LONG + 181;
  static constexpr long kQuickExit = CURLOPTTYPE_LONG + 322;
};

TEST(FetchJsonOptions, LibcurlWithoutTheProtocolListGetsTheBitMask) {
  ASSERT_TRUE(curlLibrary());
  // libcurl 7.84, as on early macOS 13: neither the list by name nor QUICK_EXIT.
  const CurlLibrary& curl = RefusingCurl::refusing({CURLOPT_PROTOCOLS_STR, RefusingCurl::kQuickExit});
  LoopbackHttpServer server(jsonReply(R"({"ok":true})"));
  std::optional<nlohmann::json> reply = detail::fetchJSONWithin(server.origin() + "/", 5, 7, curl);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, nlohmann::json({{"ok", true}}));
  EXPECT_EQ(RefusingCurl::protocolMask.load(), CURLPROTO_HTTP | CURLPROTO_HTTPS);

  JsonFile file;
  EXPECT_FALSE(detail::fetchJSONWithin(file.url(), kShortTimeout, kShortTimeout + 2, curl));
}

TEST(FetchJsonOptions, RefusedOptionMeansNoRequestAtAll) {
  ASSERT_TRUE(curlLibrary());
  // Neither protocol limit, then each option the transfer's bounds rest on.
  const std::set<long> refusals[] = {
      {CURLOPT_PROTOCOLS_STR, RefusingCurl::kProtocolsMask},
      {CURLOPT_TIMEOUT_MS},
      {CURLOPT_NOSIGNAL},
      {CURLOPT_MAXFILESIZE_LARGE},
      {CURLOPT_WRITEFUNCTION},
      {CURLOPT_XFERINFOFUNCTION},
      {CURLOPT_SSL_VERIFYPEER},
  };
  for (const std::set<long>& refused : refusals) {
    const CurlLibrary& curl = RefusingCurl::refusing(refused);
    LoopbackHttpServer server(jsonReply("{}"));
    EXPECT_FALSE(detail::fetchJSONWithin(server.origin() + "/", 5, 7, curl)) << *refused.begin();
    EXPECT_TRUE(server.requests().empty()) << *refused.begin();
  }
  JsonFile file;
  const CurlLibrary& unlimited =
      RefusingCurl::refusing({CURLOPT_PROTOCOLS_STR, RefusingCurl::kProtocolsMask});
  EXPECT_FALSE(detail::fetchJSONWithin(file.url(), kShortTimeout, kShortTimeout + 2, unlimited));
}

TEST(FetchJson, SendsAGetWithOnlyTheUserAgentSetByUs) {
  LoopbackHttpServer server(jsonReply("{}"));
  ASSERT_TRUE(fetchJSON(server.origin() + "/some/path?a=1,2&b=%20", 5));
  ASSERT_EQ(server.requests().size(), 1u);
  test_support::ReceivedRequest request = test_support::parseRequestHead(server.requests()[0]);
  EXPECT_EQ(request.requestLine, "GET /some/path?a=1,2&b=%20 HTTP/1.1");

  std::set<std::string> names;
  std::string userAgent;
  for (const auto& [name, value] : request.headers) {
    names.insert(name);
    if (name == "User-Agent") userAgent = value;
  }
  EXPECT_EQ(userAgent, installerUserAgent);
  // "Host" and "Accept: */*" are the client library's own defaults.
  EXPECT_EQ(names, (std::set<std::string>{"Host", "User-Agent", "Accept"}));
  EXPECT_EQ(request.headers.size(), 3u);
}

}  // namespace
}  // namespace zeph
