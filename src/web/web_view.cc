#include "web/web_view.h"

#include <httplib.h>

#include <chrono>
#include <iostream>

#include "db/connect.h"
#include "db/fleet_index_refresh.h"
#include "db/query_time.h"
#include "util/escape.h"
#include "web/pages.h"
#include "web/static_files.h"

namespace hostlore {
namespace {

// Computers first seen within this many days are new.
constexpr int kNewDays = 7;

// Sent with every answer: nothing but our own style sheet and script may
// load or run, the page may not be framed, no address leaves in a Referer.
void SecurityHeaders(httplib::Response& response) {
  response.set_header("Content-Security-Policy",
                      "default-src 'none'; style-src 'self'; script-src 'self'; img-src 'self'; "
                      "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_header("Cache-Control", "no-cache");
}

// Sends `reply`; a CSV answer streams on the request's thread as the query
// reads it.
void Send(const WebReply& reply, httplib::Response& response) {
  SecurityHeaders(response);
  response.status = reply.status;
  if (!reply.download_name.empty()) {
    response.set_header("Content-Disposition", "attachment; filename=\"" + reply.download_name + "\"");
  }
  if (!reply.csv_stream) {
    response.set_content(reply.body, reply.content_type.c_str());
    return;
  }
  auto stream = reply.csv_stream;
  response.set_chunked_content_provider(reply.content_type, [stream](size_t, httplib::DataSink& sink) {
    bool first = true;
    bool open = true;
    const Status done = stream([&](const AnswerTable& chunk) {
      std::string text = first ? CsvHeader(chunk) : std::string();
      text += CsvRows(chunk);
      first = false;
      if (open && !text.empty()) open = sink.write(text.data(), text.size());
    });
    if (!done.ok() || !open) return false;  // the client sees the answer cut short
    sink.done();
    return true;
  });
}

}  // namespace

// Inventory connections for the computer page, one per request at a time.
class WebView::InventoryPool {
 public:
  explicit InventoryPool(std::string server) : server_(std::move(server)) {}

  class Lease final : public InventoryLease {
   public:
    Lease(InventoryPool& pool, std::unique_ptr<InventoryReader> reader) : pool_(pool), reader_(std::move(reader)) {}
    ~Lease() override {
      if (!discarded_) pool_.Return(std::move(reader_));
    }
    InventoryReader& reader() override { return *reader_; }
    void Discard() override { discarded_ = true; }

   private:
    InventoryPool& pool_;
    std::unique_ptr<InventoryReader> reader_;
    bool discarded_ = false;
  };

  Result<std::unique_ptr<InventoryLease>> Acquire() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        std::unique_ptr<InventoryReader> reader = std::move(idle_.back());
        idle_.pop_back();
        return std::unique_ptr<InventoryLease>(std::make_unique<Lease>(*this, std::move(reader)));
      }
    }
    Result<std::shared_ptr<EngineConnection>> engine = ConnectEngineReadOnly(server_);
    if (!engine.ok()) return engine.status();
    Result<std::unique_ptr<InventoryReader>> reader = InventoryReader::Open(std::move(engine).value());
    if (!reader.ok()) return reader.status();
    return std::unique_ptr<InventoryLease>(std::make_unique<Lease>(*this, std::move(reader).value()));
  }

 private:
  void Return(std::unique_ptr<InventoryReader> reader) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(reader));
  }

  std::string server_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<InventoryReader>> idle_;
};

WebView::WebView(WebOptions options, FleetSource source)
    : options_(std::move(options)),
      source_(std::move(source)),
      pool_(std::make_unique<InventoryPool>(options_.server)),
      http_(std::make_unique<httplib::Server>()) {
  Route();
}

WebView::~WebView() {
  Stop();
  if (refresher_.joinable()) refresher_.join();
}

Status WebView::Bind() {
  port_ = options_.port == 0 ? http_->bind_to_any_port(options_.host)
                             : (http_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
  if (port_ <= 0) {
    return Status::Failure(-1, "cannot listen on " + options_.host + ":" + std::to_string(options_.port));
  }
  return Status::Ok();
}

void WebView::Serve() {
  refresher_ = std::thread([this] { RefreshLoop(); });
  http_->listen_after_bind();
}

void WebView::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  http_->stop();
}

void WebView::RefreshLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (wake_.wait_for(lock, std::chrono::seconds(options_.refresh_seconds), [this] { return stopping_; })) return;
    lock.unlock();
    Result<RefreshReport> refreshed = RefreshFleetIndex(*source_.index, *source_.reader, options_.now());
    if (!refreshed.ok()) {
      std::cerr << "hostlore-web: the fleet index was not refreshed: "
                << Escape(refreshed.status().description(), EscapeFor::kTerminal) << "\n";
      // The server may have gone away and come back: the next refresh connects anew.
      Result<std::shared_ptr<EngineConnection>> engine = ConnectEngineReadOnly(options_.server);
      if (engine.ok()) {
        if (Result<std::unique_ptr<InventoryReader>> reader = InventoryReader::Open(std::move(engine).value());
            reader.ok()) {
          source_.reader = std::move(reader).value();
        }
      }
    }
    lock.lock();
  }
}

void WebView::Route() {
  using Page = WebReply (*)(const QueryParams&, PageContext&);
  const auto serve = [this](Page page) {
    return [this, page](const httplib::Request& request, httplib::Response& response) {
      const auto started = std::chrono::steady_clock::now();
      const std::time_t now = options_.now();
      PageContext context;
      context.stale = {StoredTimeDaysBefore(now, options_.stale_days)};
      context.stale_days = options_.stale_days;
      context.new_since = StoredTimeDaysBefore(now, kNewDays);
      context.inventory = [this] { return pool_->Acquire(); };
      WebReply reply;
      Result<std::unique_ptr<FleetIndex>> index = FleetIndex::Open(source_.index_path, options_.server, IndexDb::Mode::kRead);
      if (!index.ok()) {
        reply = Unavailable("the fleet index cannot be read: " + index.status().description(), ReplyFormat::kHtml);
      } else {
        context.index = std::move(index).value();
        context.refreshed = context.index->RefreshedAt();
        reply = page(request.params, context);
      }
      const double elapsed =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
      response.set_header("Server-Timing", "app;dur=" + std::to_string(elapsed));
      Send(reply, response);
    };
  };
  http_->Get("/", serve(ServeFleet));
  http_->Get("/computers", serve(ServeComputers));
  http_->Get("/computer", serve(ServeComputer));
  http_->Get("/software", serve(ServeSoftware));
  http_->Get("/software/computers", serve(ServeInstallations));
  http_->Get("/changes", serve(ServeChanges));
  http_->Get("/static/hostlore.css", [](const httplib::Request&, httplib::Response& response) {
    SecurityHeaders(response);
    response.set_content(std::string(StyleSheet()), "text/css; charset=utf-8");
  });
  http_->Get("/static/hostlore.js", [](const httplib::Request&, httplib::Response& response) {
    SecurityHeaders(response);
    response.set_content(std::string(Script()), "text/javascript; charset=utf-8");
  });
  // Unknown paths and refused methods get a page of ours; answers that
  // already carry one keep it.
  http_->set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    const WebReply reply = ErrorReply(response.status, response.status == 404 ? "There is no page at " + request.path
                                                                               : "This request cannot be answered.",
                                      ReplyFormat::kHtml);
    Send(reply, response);
    return httplib::Server::HandlerResponse::Handled;
  }));
  http_->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    Send(ErrorReply(500, "The page failed; nothing was changed.", ReplyFormat::kHtml), response);
  });
  http_->set_payload_max_length(64 * 1024);
}

}  // namespace hostlore
