// THTTPGet fetches one URL into a file. The network work runs in a worker
// thread (THTTPGetThread); every event reaches the caller on the GUI thread
// through the IMainThreadDispatcher the component was given.
//
//   QueueDispatcher loop;                 // or the window's dispatcher
//   THTTPGet http(loop);
//   http.WaitThread = true;
//   http.DownloadFile("http://host/sync/version.txt", folder + "version.txt");
//   if (http.Result()) ...
//
// Failure is never raised: it is the outcome false and the OnError event.
// The dispatcher must outlive the component.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "net/dispatcher.h"

namespace kelvanor {

class THTTPGet;
class THTTPGetThread;

// Sender is the worker; TotalSize the announced length (0 when none), Readed
// the bytes received so far.
using TOnProgressEvent =
    std::function<void(THTTPGetThread* Sender, int64_t TotalSize, int64_t Readed)>;
// Sender is the component; FileSize the announced length.
using TOnDoneFileEvent =
    std::function<void(THTTPGet* Sender, const std::string& FileName, int64_t FileSize)>;
using TNotifyEvent = std::function<void(THTTPGet* Sender)>;

// One request as it was when the worker started: later changes to the
// component's properties do not reach a running worker.
struct THTTPGetRequest {
  std::string AcceptTypes;
  std::string Agent;
  std::string URL;
  std::string FileName;
  std::string UserName;
  std::string Password;
  std::string PostQuery;
  std::string Referer;
  std::string CACertFile;
  bool BinaryData = false;
  bool UseCache = false;
  int64_t MaxFileSize = 0;
  TOnProgressEvent OnProgress;
};

// Where a URL goes: "http" or "https", the server (host with an optional
// ":port") and the path starting with "/". An empty server means the URL
// cannot be fetched.
struct THTTPTarget {
  std::string Scheme;
  std::string Server;
  std::string Path;
};
THTTPTarget SplitHTTPURL(const std::string& url);

class THTTPGet {
 public:
  explicit THTTPGet(IMainThreadDispatcher& dispatcher);
  // Aborts a running worker and waits for its thread; events it had queued
  // are dropped.
  ~THTTPGet();
  THTTPGet(const THTTPGet&) = delete;
  THTTPGet& operator=(const THTTPGet&) = delete;

  std::string AcceptTypes = "*/*";
  std::string Agent = "Zelwirth HTTPGet";  // empty: no user agent
  bool BinaryData = false;  // a download without Content-Length fails
  std::string URL;
  bool UseCache = false;    // false: ask every proxy and cache to reload
  std::string FileName;
  std::string UserName;     // basic authentication when set
  std::string Password;
  std::string PostQuery;    // non-empty: POST this form body
  std::string Referer;
  bool WaitThread = false;  // GetFile returns only after the worker ended
  // Certificates to trust for https instead of the system's (PEM file).
  std::string CACertFile;
  // When above 0: a body longer than this ends the download as failed, with
  // the file holding more than this many bytes (at most one piece more).
  int64_t MaxFileSize = 0;

  TOnProgressEvent OnProgress;
  TOnDoneFileEvent OnDoneFile;
  TNotifyEvent OnError;

  // Starts a worker with the current properties; does nothing while one runs.
  // With WaitThread it lets the dispatcher run pending calls until the worker
  // has ended and DoneDownload has run.
  void GetFile();
  // URL and FileName, GetFile, then one round of pending calls.
  void DownloadFile(const std::string& url, const std::string& fileName);
  // Asks a running worker to stop; its outcome is failure.
  void Abort();
  // Runs on the GUI thread when the worker has ended: takes its outcome,
  // fires OnDoneFile or OnError, and forgets the worker.
  void DoneDownload();

  bool Running() const { return worker_ != nullptr; }
  // Outcome of the last finished download.
  bool Result() const { return result_; }
  // The last finished download succeeded and every answer on its way, each
  // redirect included, came over https with the server's certificate
  // verified. One hop over plain http makes it false.
  bool FetchedSecurely() const { return secure_; }
  // The HTTP status of the last download's final answer; 0 when none came.
  long StatusCode() const { return statusCode_; }

 private:
  // What queued calls hold instead of the component: cleared when the
  // component goes, so nothing that arrives later can reach it.
  struct Link {
    THTTPGet* owner = nullptr;
  };

  IMainThreadDispatcher& dispatcher_;
  std::shared_ptr<Link> link_;
  std::shared_ptr<THTTPGetThread> worker_;  // the running worker, none when idle
  std::thread thread_;
  bool result_ = false;
  bool secure_ = false;
  long statusCode_ = 0;
};

// The worker's state. It lives as long as its thread or any call it queued
// for the GUI thread, whichever is last.
class THTTPGetThread : public std::enable_shared_from_this<THTTPGetThread> {
 public:
  THTTPGetThread(THTTPGetRequest request, IMainThreadDispatcher& dispatcher,
                 std::function<void()> onEnd);
  ~THTTPGetThread();
  THTTPGetThread(const THTTPGetThread&) = delete;
  THTTPGetThread& operator=(const THTTPGetThread&) = delete;

  // The thread body: the request, the file, then the end call is posted.
  void Execute();
  // Any thread: stop as soon as possible with outcome false.
  void Terminate();
  bool Terminated() const;

  // How many calls the worker has posted so far; WaitForActivity waits up to
  // `timeout` for that count to pass `seen` or for the worker to stop.
  uint64_t ActivityCount() const;
  void WaitForActivity(uint64_t seen, std::chrono::milliseconds timeout) const;

  const THTTPGetRequest& Request() const { return request_; }
  // Read by DoneDownload once the worker has ended.
  bool Result() const;
  bool Secure() const;        // see THTTPGet::FetchedSecurely
  long StatusCode() const;    // final answer's status, 0 when none
  int64_t FileSize() const;   // announced length, 0 when none
  int64_t TotalRead() const;  // bytes received

  struct Transfer;  // the libcurl side, defined in the source file

 private:
  friend struct Transfer;
  void Run();
  // Posts the progress call and waits until it has run or the worker stops.
  void SynchronizeProgress(int64_t total, int64_t readed);
  void Signal();

  struct Shared;
  THTTPGetRequest request_;
  IMainThreadDispatcher& dispatcher_;
  std::function<void()> onEnd_;
  std::unique_ptr<Shared> shared_;
};

}  // namespace kelvanor
