#include "net/http_get.h"

#include <curl/curl.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <mutex>
#include <utility>

#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/text.h"

namespace kelvanor {

namespace {

// The worker gives up on a server that sends nothing for this long, and on
// one that does not accept the connection within it.
constexpr long kStallSeconds = 60;
constexpr long kMaxRedirects = 10;
// Longest the worker's loop sleeps in libcurl before it looks at the stop
// request again; Terminate also wakes it at once.
constexpr int kPollMilliseconds = 1000;

void GlobalCurlInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Bytes a URL may not carry as they are; everything else passes unchanged.
std::string EncodePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

bool HeaderNameIs(const std::string& line, const char* name) {
  const std::string prefix = std::string(name) + ":";
  return line.size() >= prefix.size() &&
         AsciiLowerCase(line.substr(0, prefix.size())) == AsciiLowerCase(prefix);
}

// The value of a Content-Length header; false when it is not a plain
// decimal number.
bool ParseLength(const std::string& value, int64_t& length) {
  const std::string digits = Trim(value);
  if (digits.empty() || digits.size() > 18) return false;
  int64_t result = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  length = result;
  return true;
}

}  // namespace

THTTPTarget SplitHTTPURL(const std::string& url) {
  THTTPTarget target;
  const std::string lower = AsciiLowerCase(url);
  std::string rest;
  if (StartsWith(lower, "https://")) {
    target.Scheme = "https";
    rest = url.substr(8);
  } else {
    target.Scheme = "http";
    rest = lower.find("http://") != std::string::npos ? url.substr(7) : url;
  }
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) {
    target.Path = rest;
  } else {
    target.Server = rest.substr(0, slash);
    target.Path = rest.substr(slash);
  }
  return target;
}

// ---------------------------------------------------------------------------
// THTTPGetThread

struct THTTPGetThread::Shared {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool terminated = false;
  bool result = false;
  bool secure = false;
  long status = 0;
  int64_t fileSize = 0;
  int64_t totalRead = 0;
  uint64_t activity = 0;       // calls posted to the GUI thread
  uint64_t progressPosted = 0;
  uint64_t progressDone = 0;   // last progress call that has run
  CURLM* multi = nullptr;      // set while a transfer can be woken
};

// One libcurl transfer: the handles, the header state of the current answer,
// and the target file. Its callbacks run on the worker thread.
struct THTTPGetThread::Transfer {
  explicit Transfer(THTTPGetThread& owner) : worker(owner) {}
  ~Transfer() {
    if (file != nullptr) std::fclose(file);
    if (multi != nullptr) {
      {
        std::lock_guard<std::mutex> lock(worker.shared_->mutex);
        worker.shared_->multi = nullptr;
      }
      if (easy != nullptr) curl_multi_remove_handle(multi, easy);
      curl_multi_cleanup(multi);
    }
    if (easy != nullptr) curl_easy_cleanup(easy);
    if (headers != nullptr) curl_slist_free_all(headers);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  void AddHeader(const std::string& header) {
    curl_slist* list = curl_slist_append(headers, header.c_str());
    if (list == nullptr) throw std::bad_alloc();
    headers = list;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    try {
      return self->Header(std::string(data, bytes)) ? bytes : 0;
    } catch (...) {
      self->failed = true;
      return 0;
    }
  }

  static size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    try {
      return self->Write(data, bytes) ? bytes : 0;
    } catch (...) {
      self->failed = true;
      return 0;
    }
  }

  static int OnXferInfo(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->worker.Terminated() ? 1 : 0;
  }

  bool Header(const std::string& raw) {
    if (worker.Terminated()) return false;
    std::string line = raw;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (StartsWith(line, "HTTP/")) {
      // A new answer (after an interim one or a redirect): its own headers count.
      const size_t blank = line.find(' ');
      status = blank == std::string::npos ? 0 : std::atol(line.c_str() + blank + 1);
      hasLength = false;
      badLength = false;
      length = 0;
      hasLocation = false;
      // Every answer on the way must come over verified TLS: one hop in the
      // clear (a redirect from https to http) lets anyone on it choose the rest.
      if (!HopIsHttps()) secure = false;
      return true;
    }
    if (line.empty()) return HeaderBlockEnded();
    if (HeaderNameIs(line, "Content-Length")) {
      hasLength = true;
      badLength = !ParseLength(line.substr(line.find(':') + 1), length);
    } else if (HeaderNameIs(line, "Location")) {
      hasLocation = true;
    }
    return true;
  }

  bool HopIsHttps() const {
    char* scheme = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_SCHEME, &scheme) != CURLE_OK || scheme == nullptr) {
      return false;
    }
    return AsciiLowerCase(scheme) == "https";
  }

  // The headers of one answer are complete. Interim answers and redirects that
  // libcurl follows are passed over; the final answer decides.
  bool HeaderBlockEnded() {
    if (status >= 100 && status < 200) return true;
    if (status >= 300 && status < 400 && hasLocation) return true;
    headersDone = true;
    if (worker.Terminated()) return false;
    if (badLength) {
      failed = true;
      return false;
    }
    if (!hasLength && worker.request_.BinaryData) {
      refused = true;
      return false;
    }
    file = OpenFile(worker.request_.FileName, "wb");
    if (file == nullptr) {
      failed = true;
      return false;
    }
    return true;
  }

  bool Write(const char* data, size_t bytes) {
    if (worker.Terminated() || file == nullptr) return false;
    if (std::fwrite(data, 1, bytes, file) != bytes) {
      failed = true;
      return false;
    }
    total += static_cast<int64_t>(bytes);
    // The piece that went beyond the limit is in the file, so the file shows
    // it was cut; nothing more is fetched.
    if (worker.request_.MaxFileSize > 0 && total > worker.request_.MaxFileSize) {
      failed = true;
      return false;
    }
    worker.SynchronizeProgress(hasLength ? length : 0, total);
    return !worker.Terminated();
  }

  THTTPGetThread& worker;
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headers = nullptr;
  FILE* file = nullptr;

  long status = 0;
  bool hasLength = false;
  bool badLength = false;
  int64_t length = 0;
  bool hasLocation = false;
  bool headersDone = false;
  bool secure = true;    // every answer so far came over verified https
  bool refused = false;  // BinaryData without a length
  bool failed = false;   // file error or bad header
  int64_t total = 0;
};

THTTPGetThread::THTTPGetThread(THTTPGetRequest request, IMainThreadDispatcher& dispatcher,
                               std::function<void()> onEnd)
    : request_(std::move(request)),
      dispatcher_(dispatcher),
      onEnd_(std::move(onEnd)),
      shared_(std::make_unique<Shared>()) {}

THTTPGetThread::~THTTPGetThread() = default;

void THTTPGetThread::Execute() {
  try {
    Run();
  } catch (...) {
    // A failure of the worker is only ever its outcome.
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->result = false;
  }
  try {
    dispatcher_.Post(onEnd_);
  } catch (...) {
    // Nothing can report this; the component stays busy until destroyed.
  }
  Signal();
}

void THTTPGetThread::Run() {
  const THTTPTarget target = SplitHTTPURL(request_.URL);
  if (Terminated() || target.Server.empty()) return;

  Transfer t(*this);
  t.easy = curl_easy_init();
  if (t.easy == nullptr) return;
  CURL* easy = t.easy;

  const std::string url = target.Scheme + "://" + target.Server + EncodePath(target.Path);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  // libcurl's defaults, spelled out: FetchedSecurely relies on them.
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kStallSeconds);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  if (!request_.Agent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, request_.Agent.c_str());
  if (!request_.Referer.empty()) curl_easy_setopt(easy, CURLOPT_REFERER, request_.Referer.c_str());
  if (!request_.UserName.empty() || !request_.Password.empty()) {
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_USERNAME, request_.UserName.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, request_.Password.c_str());
  }
  if (!request_.CACertFile.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, AnsiToUtf8Name(request_.CACertFile).c_str());
  }

  t.AddHeader("Accept: " + request_.AcceptTypes);
  if (!request_.UseCache) {
    t.AddHeader("Cache-Control: no-cache");
    t.AddHeader("Pragma: no-cache");
  }
  if (!request_.PostQuery.empty()) {
    t.AddHeader("Content-Type: application/x-www-form-urlencoded");
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request_.PostQuery.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request_.PostQuery.data());
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headers);

  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::OnXferInfo);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

  t.multi = curl_multi_init();
  if (t.multi == nullptr) return;
  if (curl_multi_add_handle(t.multi, easy) != CURLM_OK) return;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->terminated) return;
    shared_->multi = t.multi;
  }

  // The multi loop rather than curl_easy_perform: Terminate wakes the poll,
  // so an abort never waits for the network.
  CURLcode code = CURLE_OK;
  bool finished = false;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(t.multi, &running) != CURLM_OK) break;
    if (running == 0) {
      finished = true;
      break;
    }
    if (Terminated()) break;
    if (curl_multi_poll(t.multi, nullptr, 0, kPollMilliseconds, nullptr) != CURLM_OK) break;
  }
  if (finished) {
    finished = false;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(t.multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        code = message->data.result;
        finished = true;
      }
    }
  }

  bool ok = finished && code == CURLE_OK && t.headersDone && !t.refused && !t.failed &&
            t.file != nullptr && t.total == (t.hasLength ? t.length : 0);
  if (t.file != nullptr) {
    if (std::fclose(t.file) != 0) ok = false;
    t.file = nullptr;
  }

  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->fileSize = t.hasLength ? t.length : 0;
  shared_->totalRead = t.total;
  shared_->status = t.headersDone ? t.status : 0;
  shared_->result = ok && !shared_->terminated;
  // With peer and host verification on, a finished https transfer is a
  // verified one: libcurl ends the transfer when the certificate fails.
  shared_->secure = shared_->result && t.secure && t.HopIsHttps();
}

void THTTPGetThread::SynchronizeProgress(int64_t total, int64_t readed) {
  if (!request_.OnProgress) return;
  uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->terminated) return;
    ticket = ++shared_->progressPosted;
  }
  auto self = shared_from_this();
  dispatcher_.Post([self, ticket, total, readed] {
    // An aborted worker's progress no longer concerns anyone, and its
    // component may be gone.
    if (!self->Terminated()) self->request_.OnProgress(self.get(), total, readed);
    std::lock_guard<std::mutex> lock(self->shared_->mutex);
    if (self->shared_->progressDone < ticket) self->shared_->progressDone = ticket;
    self->shared_->changed.notify_all();
  });
  Signal();
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock,
                        [&] { return shared_->terminated || shared_->progressDone >= ticket; });
}

void THTTPGetThread::Signal() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  ++shared_->activity;
  shared_->changed.notify_all();
}

void THTTPGetThread::Terminate() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->terminated = true;
  shared_->result = false;
  if (shared_->multi != nullptr) curl_multi_wakeup(shared_->multi);
  shared_->changed.notify_all();
}

bool THTTPGetThread::Terminated() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->terminated;
}

uint64_t THTTPGetThread::ActivityCount() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->activity;
}

void THTTPGetThread::WaitForActivity(uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait_for(lock, timeout,
                            [&] { return shared_->terminated || shared_->activity != seen; });
}

bool THTTPGetThread::Result() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->result && !shared_->terminated;
}

bool THTTPGetThread::Secure() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->secure && shared_->result && !shared_->terminated;
}

long THTTPGetThread::StatusCode() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->status;
}

int64_t THTTPGetThread::FileSize() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->fileSize;
}

int64_t THTTPGetThread::TotalRead() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->totalRead;
}

// ---------------------------------------------------------------------------
// THTTPGet

THTTPGet::THTTPGet(IMainThreadDispatcher& dispatcher)
    : dispatcher_(dispatcher), link_(std::make_shared<Link>()) {
  GlobalCurlInit();
  link_->owner = this;
}

THTTPGet::~THTTPGet() {
  link_->owner = nullptr;
  Abort();
  // Aborted, the worker ends promptly: its wait for a progress call and its
  // network poll both wake on the stop request.
  if (thread_.joinable()) thread_.join();
}

void THTTPGet::GetFile() {
  if (worker_) return;
  // The previous worker has posted its end already; its thread is done or
  // about to be.
  if (thread_.joinable()) thread_.join();

  THTTPGetRequest request;
  request.AcceptTypes = AcceptTypes;
  request.Agent = Agent;
  request.URL = URL;
  request.FileName = FileName;
  request.UserName = UserName;
  request.Password = Password;
  request.PostQuery = PostQuery;
  request.Referer = Referer;
  request.CACertFile = CACertFile;
  request.BinaryData = BinaryData;
  request.UseCache = UseCache;
  request.MaxFileSize = MaxFileSize;
  request.OnProgress = OnProgress;

  std::shared_ptr<Link> link = link_;
  auto worker = std::make_shared<THTTPGetThread>(std::move(request), dispatcher_, [link] {
    if (link->owner != nullptr) link->owner->DoneDownload();
  });
  worker_ = worker;
  try {
    thread_ = std::thread([worker] { worker->Execute(); });
  } catch (...) {
    // No thread, no download: report it as any other failure.
    worker->Terminate();
    DoneDownload();
    return;
  }

  if (!WaitThread) return;
  // Locals only from here: a handler run by the dispatcher may destroy us.
  IMainThreadDispatcher& dispatcher = dispatcher_;
  while (link->owner != nullptr && worker_ == worker) {
    const uint64_t seen = worker->ActivityCount();
    dispatcher.ProcessPending();
    if (link->owner == nullptr || worker_ != worker) break;
    worker->WaitForActivity(seen, std::chrono::milliseconds(5));
  }
}

void THTTPGet::DownloadFile(const std::string& url, const std::string& fileName) {
  URL = url;
  FileName = fileName;
  std::shared_ptr<Link> link = link_;
  IMainThreadDispatcher& dispatcher = dispatcher_;
  GetFile();
  if (link->owner != nullptr) dispatcher.ProcessPending();
}

void THTTPGet::Abort() {
  if (worker_) worker_->Terminate();
}

void THTTPGet::DoneDownload() {
  std::shared_ptr<THTTPGetThread> worker = worker_;
  if (!worker) return;
  result_ = worker->Result();
  secure_ = result_ && worker->Secure();
  statusCode_ = worker->StatusCode();
  std::shared_ptr<Link> link = link_;
  if (result_) {
    if (OnDoneFile) OnDoneFile(this, worker->Request().FileName, worker->FileSize());
  } else {
    if (OnError) OnError(this);
  }
  if (link->owner == nullptr) return;  // a handler destroyed the component
  worker_.reset();
}

}  // namespace kelvanor
