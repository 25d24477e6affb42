#include "net/fetch_json.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "net/fetch_json_internal.h"
#include "base/process_values.h"
#include "support/http_server.h"

namespace zeph {
namespace {

using testing::LoopbackHttpServer;
using testing::delayedReply;
using testing::jsonReply;
using testing::neverAnswering;
using testing::trickledReply;
using namespace std::chrono_literals;

// Short timeouts keep these tests quick; what is checked is the result, not the time taken.
constexpr double kShortTimeout = 0.3;

std::optional<nlohmann::json> fetchFrom(const LoopbackHttpServer& server, double timeout = 5) {
  return fetchJSON(server.origin() + "/", timeout);
}

TEST(FetchJson, ErrorStatusWithJsonBodyIsTheResult) {
  for (int status : {404, 500}) {
    LoopbackHttpServer server(jsonReply(R"({"error":"no such thing"})", status));
    std::optional<nlohmann::json> reply = fetchFrom(server);
    ASSERT_TRUE(reply) << status;
    EXPECT_EQ(*reply, nlohmann::json({{"error", "no such thing"}})) << status;
  }
}

TEST(FetchJson, ObjectAndArrayBodiesAreReturned) {
  LoopbackHttpServer array(jsonReply(R"([{"lat":"1"},2,null])"));
  std::optional<nlohmann::json> reply = fetchFrom(array);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->is_array());
  EXPECT_EQ(reply->size(), 3u);
}

TEST(FetchJson, BodiesThatAreNotAnObjectOrArrayGiveNone) {
  const char* bodies[] = {"", "\"just a string\"", "42", "true", "null", "{\"open\": ", "<html></html>",
                          "{} trailing", ("\xEF\xBB\xBF" "{\"bad utf8\": \"\xFF\"}")};
  for (const char* body : bodies) {
    LoopbackHttpServer server(jsonReply(body));
    EXPECT_FALSE(fetchFrom(server)) << body;
  }
}

TEST(FetchJson, BodyPastOneMebibyteGivesNone) {
  std::string big = "[\"" + std::string(detail::kMaxJsonBody, 'x') + "\"]";
  LoopbackHttpServer server(jsonReply(big));
  EXPECT_FALSE(fetchFrom(server));

  // Just under the limit is still read.
  std::string fits = "[\"" + std::string(detail::kMaxJsonBody - 4, 'x') + "\"]";
  LoopbackHttpServer fitting(jsonReply(fits));
  EXPECT_TRUE(fetchFrom(fitting));
}

TEST(FetchJson, TrickledBodyWithinTheTimeIsRead) {
  LoopbackHttpServer server(trickledReply(R"({"city":"Oslo"})", 3, 10ms));
  std::optional<nlohmann::json> reply = fetchFrom(server);
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)["city"], "Oslo");
}

TEST(FetchJson, ServerThatNeverAnswersGivesNone) {
  LoopbackHttpServer server(neverAnswering());
  EXPECT_FALSE(fetchFrom(server, kShortTimeout));
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(FetchJson, ReplyAfterTheTimeoutGivesNone) {
  LoopbackHttpServer server(delayedReply(R"({"late":true})", 1500ms));
  EXPECT_FALSE(fetchFrom(server, kShortTimeout));
  // A body trickling on past the timeout is not waited for either.
  LoopbackHttpServer trickle(trickledReply(std::string(200, ' ') + "{}", 1, 50ms));
  EXPECT_FALSE(fetchFrom(trickle, kShortTimeout));
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
  std::this_thread::sleep_for(50ms);  // lets the abandoned transfer wind down under the sanitizers
}

TEST(FetchJson, NothingListeningGivesNone) {
  // A bound socket that does not listen keeps its port from anyone else and refuses connections.
  int socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(socketFd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  EXPECT_FALSE(fetchJSON("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/", kShortTimeout));
  ::close(socketFd);

  EXPECT_FALSE(fetchJSON("not a url", kShortTimeout));
  EXPECT_FALSE(fetchJSON("ftp://127.0.0.1/x.json", kShortTimeout));
  EXPECT_FALSE(fetchJSON("file:///etc/hostname", kShortTimeout));
}

TEST(FetchJson, SendsAGetWithOnlyTheUserAgentSetByUs) {
  LoopbackHttpServer server(jsonReply("{}"));
  ASSERT_TRUE(fetchJSON(server.origin() + "/some/path?a=1,2&b=%20", 5));
  ASSERT_EQ(server.requests().size(), 1u);
  testing::ReceivedRequest request = testing::parseRequestHead(server.requests()[0]);
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
