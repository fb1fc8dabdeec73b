#include "net/http_get.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/dispatcher.h"
#include "net/http_test_server.h"
#include "support/test_db.h"
#include "platform/file_system.h"

namespace kelvanor {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::HttpTestServer;
using testing::ReadFile;
using testing::TempDir;

// The body the test server sends for n bytes.
std::string Pattern(size_t n) {
  const std::string unit = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string out;
  while (out.size() < n) out += unit;
  return out.substr(0, n);
}

// What the component reported, and on which thread.
struct Events {
  int done = 0;
  int errors = 0;
  std::string doneFile;
  int64_t doneSize = -1;
  std::vector<int64_t> progressTotal;
  std::vector<int64_t> progressRead;
  std::vector<std::thread::id> threads;
  THTTPGetThread* progressSender = nullptr;
  THTTPGet* sender = nullptr;

  void Attach(THTTPGet& http) {
    http.OnDoneFile = [this](THTTPGet* s, const std::string& file, int64_t size) {
      ++done;
      sender = s;
      doneFile = file;
      doneSize = size;
      threads.push_back(std::this_thread::get_id());
    };
    http.OnError = [this](THTTPGet* s) {
      ++errors;
      sender = s;
      threads.push_back(std::this_thread::get_id());
    };
    http.OnProgress = [this](THTTPGetThread* s, int64_t total, int64_t read) {
      progressSender = s;
      progressTotal.push_back(total);
      progressRead.push_back(read);
      threads.push_back(std::this_thread::get_id());
    };
  }
};

class HttpGetTest : public ::testing::Test {
 protected:
  HttpGetTest() { events.Attach(http); }

  // Downloads with WaitThread, as the version check does.
  bool Fetch(const std::string& url, const std::string& file) {
    http.WaitThread = true;
    http.DownloadFile(url, file);
    return http.Result();
  }

  // Runs the loop until `done` holds; fails the test after 20 s.
  template <typename Pred>
  void PumpUntil(Pred done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "gave up waiting";
      loop.ProcessPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  TempDir dir;
  HttpTestServer server;
  QueueDispatcher loop;
  THTTPGet http{loop};
  Events events;
};

TEST(HttpGetDefaults, PropertiesStartWithTheFormValues) {
  QueueDispatcher loop;
  THTTPGet http(loop);
  EXPECT_EQ(http.AcceptTypes, "*/*");
  EXPECT_EQ(http.Agent, "Zelwirth HTTPGet");
  EXPECT_FALSE(http.BinaryData);
  EXPECT_FALSE(http.UseCache);
  EXPECT_FALSE(http.WaitThread);
  EXPECT_EQ(http.URL + http.FileName + http.UserName + http.Password + http.PostQuery +
                http.Referer + http.CACertFile,
            "");
  EXPECT_FALSE(http.OnProgress || http.OnDoneFile || http.OnError);
  EXPECT_FALSE(http.Running());
  EXPECT_FALSE(http.Result());
}

TEST(HttpGetUrl, SplitsServerAndPathAfterTheScheme) {
  auto check = [](const std::string& url, const std::string& scheme, const std::string& server,
                  const std::string& path) {
    const THTTPTarget t = SplitHTTPURL(url);
    EXPECT_EQ(t.Scheme, scheme) << url;
    EXPECT_EQ(t.Server, server) << url;
    EXPECT_EQ(t.Path, path) << url;
  };
  check("http://example.org/sync/version.txt", "http", "example.org", "/sync/version.txt");
  check("HTTP://Example.org/a", "http", "Example.org", "/a");
  check("example.org/sync/version.txt", "http", "example.org", "/sync/version.txt");
  check("example.org:8080/x?y=1", "http", "example.org:8080", "/x?y=1");
  check("https://example.org:8443/", "https", "example.org:8443", "/");
  check("example.org", "http", "", "example.org");
  // The prefix is recognised anywhere, and then the first seven characters go.
  check("xhttp://host/p", "http", "", "/host/p");
}

TEST_F(HttpGetTest, AnAnnouncedLengthThatArrivesInFullSucceeds) {
  const std::string file = dir.File("ten.bin");
  EXPECT_TRUE(Fetch(server.Url("/t/len?n=10"), file));
  EXPECT_FALSE(http.Running()) << "DownloadFile with WaitThread returns after the end";
  EXPECT_EQ(ReadFile(file), Pattern(10));
  EXPECT_EQ(events.done, 1);
  EXPECT_EQ(events.errors, 0);
  EXPECT_EQ(events.doneFile, file);
  EXPECT_EQ(events.doneSize, 10);
  EXPECT_EQ(events.sender, &http);
}

TEST_F(HttpGetTest, ABodyCutShortFailsAndKeepsWhatArrived) {
  const std::string file = dir.File("short.bin");
  EXPECT_FALSE(Fetch(server.Url("/t/short?n=100&send=40"), file));
  EXPECT_EQ(ReadFile(file), Pattern(40));
  EXPECT_EQ(events.done, 0);
  EXPECT_EQ(events.errors, 1);
  EXPECT_EQ(events.sender, &http);
}

TEST_F(HttpGetTest, WithoutContentLengthTextIsKeptButCountsAsFailure) {
  const std::string file = dir.File("nolen.txt");
  EXPECT_FALSE(Fetch(server.Url("/t/nolen?n=50"), file));
  EXPECT_EQ(ReadFile(file), Pattern(50));
  EXPECT_EQ(events.errors, 1);

  // Nothing announced and nothing sent: 0 equals 0.
  const std::string empty = dir.File("nolen_empty.txt");
  EXPECT_TRUE(Fetch(server.Url("/t/nolen?n=0"), empty));
  EXPECT_TRUE(FileExists(empty));
  EXPECT_EQ(ReadFile(empty), "");
  EXPECT_EQ(events.done, 1);
  EXPECT_EQ(events.doneSize, 0);
}

TEST_F(HttpGetTest, WithoutContentLengthBinaryDataCreatesNoFile) {
  http.BinaryData = true;
  const std::string file = dir.File("nolen.bin");
  EXPECT_FALSE(Fetch(server.Url("/t/nolen?n=50"), file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(events.errors, 1);

  // With a length, binary data downloads as usual.
  EXPECT_TRUE(Fetch(server.Url("/t/len?n=3000"), file));
  EXPECT_EQ(ReadFile(file), Pattern(3000));
}

TEST_F(HttpGetTest, AnEmptyBodyGivesAnEmptyFile) {
  const std::string file = dir.File("empty.txt");
  testing::WriteFile(file, "old content");
  EXPECT_TRUE(Fetch(server.Url("/t/len?n=0"), file));
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(ReadFile(file), "");
  EXPECT_EQ(events.done, 1);
  EXPECT_EQ(events.doneSize, 0);
  EXPECT_TRUE(events.progressRead.empty());
}

TEST_F(HttpGetTest, AGetCarriesTheRequestShape) {
  const std::string file = dir.File("echo.json");
  http.Referer = "http://referrer.example/page";
  http.UserName = "anna";
  http.Password = "geheim";
  ASSERT_TRUE(Fetch(server.Url("/t/echo?x=1"), file));
  const std::string echo = ReadFile(file);
  EXPECT_THAT(echo, HasSubstr("\"method\":\"GET\""));
  EXPECT_THAT(echo, HasSubstr("\"path\":\"/t/echo?x=1\""));
  EXPECT_THAT(echo, HasSubstr("\"version\":\"HTTP/1.0\""));
  EXPECT_THAT(echo, HasSubstr("\"accept\":\"*/*\""));
  EXPECT_THAT(echo, HasSubstr("\"user-agent\":\"Zelwirth HTTPGet\""));
  EXPECT_THAT(echo, HasSubstr("\"cache-control\":\"no-cache\""));
  EXPECT_THAT(echo, HasSubstr("\"pragma\":\"no-cache\""));
  EXPECT_THAT(echo, HasSubstr("\"referer\":\"http://referrer.example/page\""));
  // base64("anna:geheim")
  EXPECT_THAT(echo, HasSubstr("\"authorization\":\"Basic YW5uYTpnZWhlaW0=\""));
  EXPECT_THAT(echo, Not(HasSubstr("content-type")));
}

TEST_F(HttpGetTest, CacheAgentAndAcceptFollowTheProperties) {
  const std::string file = dir.File("echo.json");
  http.UseCache = true;
  http.Agent = "";
  http.AcceptTypes = "text/plain";
  ASSERT_TRUE(Fetch(server.Url("/t/echo"), file));
  const std::string echo = ReadFile(file);
  EXPECT_THAT(echo, HasSubstr("\"accept\":\"text/plain\""));
  EXPECT_THAT(echo, Not(HasSubstr("user-agent")));
  EXPECT_THAT(echo, Not(HasSubstr("cache-control")));
  EXPECT_THAT(echo, Not(HasSubstr("pragma")));
  EXPECT_THAT(echo, Not(HasSubstr("authorization")));
}

TEST_F(HttpGetTest, APostQuerySendsAForm) {
  const std::string file = dir.File("post.json");
  http.PostQuery = "kd=anna&text=a%20b";
  ASSERT_TRUE(Fetch(server.Url("/t/echo"), file));
  const std::string echo = ReadFile(file);
  EXPECT_THAT(echo, HasSubstr("\"method\":\"POST\""));
  EXPECT_THAT(echo, HasSubstr("\"content-type\":\"application/x-www-form-urlencoded\""));
  EXPECT_THAT(echo, HasSubstr("\"body\":\"kd=anna&text=a%20b\""));
  EXPECT_THAT(echo, HasSubstr("\"version\":\"HTTP/1.0\""));
}

TEST_F(HttpGetTest, AUrlWithoutTheHttpPrefixIsFetchedTheSameWay) {
  const std::string plain = "127.0.0.1:" + std::to_string(server.Port()) + "/t/len?n=12";
  const std::string file = dir.File("plain.bin");
  EXPECT_TRUE(Fetch(plain, file));
  EXPECT_EQ(ReadFile(file), Pattern(12));

  const std::string upper = "HTTP://127.0.0.1:" + std::to_string(server.Port()) + "/t/len?n=5";
  EXPECT_TRUE(Fetch(upper, file));
  EXPECT_EQ(ReadFile(file), Pattern(5));
}

TEST_F(HttpGetTest, UnreachableOrUnusableAddressesFailWithoutAFile) {
  const std::string file = dir.File("never.bin");
  // No "/" at all: no server.
  EXPECT_FALSE(Fetch("127.0.0.1:" + std::to_string(server.Port()), file));
  EXPECT_FALSE(FileExists(file));

  // A port nobody listens on (the test server's own port, once it is gone, is
  // not reliable; port 1 is privileged and unused here).
  EXPECT_FALSE(Fetch("http://127.0.0.1:1/t/len?n=10", file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(events.errors, 2);
  EXPECT_EQ(events.done, 0);
}

TEST_F(HttpGetTest, AnErrorPageIsDownloadedLikeAnyAnswer) {
  // The version check tells an error page by its words, so it must arrive.
  const std::string file = dir.File("missing.txt");
  EXPECT_TRUE(Fetch(server.Url("/sync/version.txt"), file));
  EXPECT_THAT(ReadFile(file), HasSubstr("not found"));
}

TEST_F(HttpGetTest, ARedirectIsFollowed) {
  const std::string file = dir.File("moved.bin");
  EXPECT_TRUE(Fetch(server.Url("/t/redirect?to=/t/len%3Fn%3D7"), file));
  EXPECT_EQ(ReadFile(file), Pattern(7));
  EXPECT_EQ(events.doneSize, 7);
}

TEST_F(HttpGetTest, AFileThatCannotBeCreatedIsAFailureNotAnException) {
  const std::string file = dir.File("no/such/folder/file.bin");
  EXPECT_NO_THROW(EXPECT_FALSE(Fetch(server.Url("/t/len?n=10"), file)));
  EXPECT_EQ(events.errors, 1);
}

TEST_F(HttpGetTest, ProgressArrivesOnTheLoopThreadOnly) {
  const std::string file = dir.File("progress.bin");
  ASSERT_TRUE(Fetch(server.Url("/t/slow?n=3000&chunk=500&delay=0.01"), file));
  ASSERT_FALSE(events.progressRead.empty());
  for (const auto& id : events.threads) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(events.threads.size(), events.progressRead.size() + 1);  // + OnDoneFile
  for (size_t i = 0; i < events.progressRead.size(); ++i) {
    EXPECT_EQ(events.progressTotal[i], 3000);
    if (i > 0) {
      EXPECT_GT(events.progressRead[i], events.progressRead[i - 1]);
    }
  }
  EXPECT_EQ(events.progressRead.back(), 3000);
  EXPECT_NE(events.progressSender, nullptr);
}

TEST_F(HttpGetTest, WithoutWaitThreadTheCallerRunsTheLoop) {
  const std::string file = dir.File("async.bin");
  http.URL = server.Url("/t/slow?n=400&chunk=100&delay=0.02");
  http.FileName = file;
  http.GetFile();
  EXPECT_TRUE(http.Running());
  EXPECT_EQ(events.done + events.errors, 0) << "events only run inside the loop";
  PumpUntil([&] { return !http.Running(); });
  EXPECT_TRUE(http.Result());
  EXPECT_EQ(events.done, 1);
  EXPECT_EQ(ReadFile(file), Pattern(400));
}

TEST_F(HttpGetTest, ASecondGetFileWhileRunningDoesNothing) {
  const std::string first = dir.File("first.bin");
  const std::string second = dir.File("second.bin");
  http.URL = server.Url("/t/slow?n=600&chunk=100&delay=0.05");
  http.FileName = first;
  http.GetFile();
  ASSERT_TRUE(http.Running());

  // Changed properties do not reach the running worker, and no second starts.
  http.URL = server.Url("/t/len?n=5");
  http.FileName = second;
  http.WaitThread = true;
  http.GetFile();
  EXPECT_TRUE(http.Running()) << "the second call returned at once";
  PumpUntil([&] { return !http.Running(); });

  EXPECT_TRUE(http.Result());
  EXPECT_EQ(events.done, 1);
  EXPECT_EQ(events.doneFile, first);
  EXPECT_EQ(ReadFile(first), Pattern(600));
  EXPECT_FALSE(FileExists(second));

  // Idle again: the next start works.
  http.GetFile();
  EXPECT_EQ(ReadFile(second), Pattern(5));
  EXPECT_EQ(events.done, 2);
}

TEST_F(HttpGetTest, AbortDuringASlowDownloadFails) {
  const std::string file = dir.File("aborted.bin");
  http.URL = server.Url("/t/slow?n=100000&chunk=100&delay=0.05");
  http.FileName = file;
  http.GetFile();
  PumpUntil([&] { return !events.progressRead.empty(); });
  http.Abort();
  PumpUntil([&] { return !http.Running(); });
  EXPECT_FALSE(http.Result());
  EXPECT_EQ(events.errors, 1);
  EXPECT_EQ(events.done, 0);
  EXPECT_LT(ReadFile(file).size(), 100000u);
}

TEST_F(HttpGetTest, AbortFromAProgressHandlerEndsAWaitingDownload) {
  const std::string file = dir.File("aborted.bin");
  http.OnProgress = [&](THTTPGetThread*, int64_t, int64_t) { http.Abort(); };
  EXPECT_FALSE(Fetch(server.Url("/t/slow?n=100000&chunk=100&delay=0.05"), file));
  EXPECT_FALSE(http.Running());
  EXPECT_EQ(events.errors, 1);
}

TEST_F(HttpGetTest, DestroyingTheComponentDuringADownloadReportsNothing) {
  auto doomed = std::make_unique<THTTPGet>(loop);
  Events seen;
  seen.Attach(*doomed);
  doomed->URL = server.Url("/t/slow?n=100000&chunk=100&delay=0.02");
  doomed->FileName = dir.File("doomed.bin");
  doomed->GetFile();
  PumpUntil([&] { return seen.progressRead.size() >= 2; });
  doomed.reset();
  const size_t progressBefore = seen.progressRead.size();

  // Whatever the worker had queued runs now, and must not reach the handlers.
  for (int i = 0; i < 20; ++i) {
    loop.ProcessPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(seen.done + seen.errors, 0);
  EXPECT_EQ(seen.progressRead.size(), progressBefore);
}

TEST_F(HttpGetTest, DestroyingTheComponentWhileTheWorkerWaitsForProgressDoesNotHang) {
  auto doomed = std::make_unique<THTTPGet>(loop);
  int calls = 0;
  doomed->OnProgress = [&](THTTPGetThread*, int64_t, int64_t) { ++calls; };
  doomed->OnError = [&](THTTPGet*) { ++calls; };
  doomed->OnDoneFile = [&](THTTPGet*, const std::string&, int64_t) { ++calls; };
  doomed->URL = server.Url("/t/len?n=50000");
  doomed->FileName = dir.File("doomed.bin");
  doomed->GetFile();
  // The worker posts its first progress call and waits for it; the loop
  // never runs it.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (loop.Pending() == 0) {
    ASSERT_LT(std::chrono::steady_clock::now(), give_up);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  doomed.reset();  // must return: the wait ends on the stop request
  loop.ProcessPending();
  EXPECT_EQ(calls, 0);
}

TEST_F(HttpGetTest, DestroyingTheComponentFromItsOwnHandlerIsSafe) {
  auto doomed = std::make_unique<THTTPGet>(loop);
  doomed->OnProgress = [&](THTTPGetThread*, int64_t, int64_t) { doomed.reset(); };
  doomed->WaitThread = true;
  doomed->DownloadFile(server.Url("/t/slow?n=100000&chunk=100&delay=0.02"),
                       dir.File("doomed.bin"));
  EXPECT_EQ(doomed, nullptr);
  loop.ProcessPending();
}

TEST(QueueDispatcherTest, CallsPostedFromAnyThreadRunOnTheProcessingThread) {
  QueueDispatcher loop;
  std::vector<std::thread::id> ran;
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) loop.Post([&] { ran.push_back(std::this_thread::get_id()); });
  });
  poster.join();
  EXPECT_EQ(loop.Pending(), 3u);
  EXPECT_TRUE(ran.empty());
  loop.ProcessPending();
  ASSERT_EQ(ran.size(), 3u);
  for (const auto& id : ran) EXPECT_EQ(id, std::this_thread::get_id());

  // A call that posts again is run by the next round, not this one.
  int rounds = 0;
  std::function<void()> again = [&] {
    ++rounds;
    loop.Post(again);
  };
  loop.Post(again);
  loop.ProcessPending();
  EXPECT_EQ(rounds, 1);
  EXPECT_EQ(loop.Pending(), 1u);
}

class HttpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::MakeSelfSignedCertificate(dir.Path(), cert, key)) {
      GTEST_SKIP() << "openssl is not available";
    }
    HttpTestServer::Options options;
    options.cert = cert;
    options.key = key;
    server = std::make_unique<HttpTestServer>(options);
  }

  TempDir dir;
  std::string cert, key;
  std::unique_ptr<HttpTestServer> server;
  QueueDispatcher loop;
};

TEST_F(HttpsTest, ATrustedCertificateDownloads) {
  THTTPGet http(loop);
  http.WaitThread = true;
  http.CACertFile = cert;
  const std::string file = dir.File("secure.bin");
  http.DownloadFile(server->Url("/t/len?n=20"), file);
  EXPECT_TRUE(http.Result());
  EXPECT_TRUE(http.FetchedSecurely());
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(ReadFile(file), Pattern(20));
}

TEST_F(HttpsTest, OneHopInTheClearMakesADownloadInsecure) {
  HttpTestServer plain;
  THTTPGet http(loop);
  http.WaitThread = true;
  http.CACertFile = cert;
  const std::string file = dir.File("update.bin");

  // Redirected from https to https: verified all the way.
  http.DownloadFile(server->Url("/t/redirect?to=/t/len?n=20"), file);
  EXPECT_TRUE(http.Result());
  EXPECT_TRUE(http.FetchedSecurely());

  // From https to http: the file arrives, but over plain http.
  http.DownloadFile(server->Url("/t/redirect?to=" + plain.Url("/t/len?n=20")), file);
  EXPECT_TRUE(http.Result());
  EXPECT_EQ(ReadFile(file), Pattern(20));
  EXPECT_FALSE(http.FetchedSecurely());

  // From http to https: the first answer was in the clear.
  http.DownloadFile(plain.Url("/t/redirect?to=" + server->Url("/t/len?n=20")), file);
  EXPECT_TRUE(http.Result());
  EXPECT_FALSE(http.FetchedSecurely());

  http.DownloadFile(plain.Url("/t/len?n=20"), file);
  EXPECT_TRUE(http.Result());
  EXPECT_FALSE(http.FetchedSecurely());

  // A failed https download is not secure either, and its status is kept.
  http.DownloadFile(server->Url("/t/short?n=20&send=5"), file);
  EXPECT_FALSE(http.Result());
  EXPECT_FALSE(http.FetchedSecurely());
  http.DownloadFile(server->Url("/no/such/file"), file);
  EXPECT_EQ(http.StatusCode(), 404);
  EXPECT_TRUE(http.FetchedSecurely());
}

TEST_F(HttpsTest, AnUntrustedCertificateIsRefused) {
  THTTPGet http(loop);
  http.WaitThread = true;
  int errors = 0;
  http.OnError = [&](THTTPGet*) { ++errors; };
  const std::string file = dir.File("secure.bin");
  http.DownloadFile(server->Url("/t/len?n=20"), file);
  EXPECT_FALSE(http.Result());
  EXPECT_FALSE(http.FetchedSecurely());
  EXPECT_EQ(errors, 1);
  EXPECT_FALSE(FileExists(file));
}

}  // namespace
}  // namespace kelvanor
