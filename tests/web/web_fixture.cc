#include "web/web_fixture.h"

#include <sstream>

#include "db/fleet_index_refresh.h"

namespace hostlore::test {

void WebFixture::SetUp() {
  FleetFixture::SetUp();
  if (IsSkipped() || HasFatalFailure()) return;
  AddComputers();
  std::ostringstream notes;
  Result<FleetSource> source = OpenFleetSource(server_, (folder_.path() / "web-index.sqlite").string(), ":memory:", notes);
  ASSERT_TRUE(source.ok()) << source.status().description();
  ASSERT_TRUE(RefreshFleetIndex(*source->index, *source->reader, Now()).ok());
  WebOptions options;
  options.server = server_;
  options.port = 0;
  options.refresh_seconds = 3600;
  options.now = [] { return Now(); };
  view_ = std::make_unique<WebView>(options, std::move(source).value());
  ASSERT_TRUE(view_->Bind().ok());
  serving_ = std::thread([this] { view_->Serve(); });
}

void WebFixture::TearDown() {
  if (view_) view_->Stop();
  if (serving_.joinable()) serving_.join();
  view_.reset();
}

httplib::Result WebFixture::Get(const std::string& path) {
  httplib::Client client("127.0.0.1", view_->port());
  client.set_read_timeout(30, 0);
  httplib::Result result = client.Get(path);
  EXPECT_TRUE(result) << path << ": " << httplib::to_string(result.error());
  return result;
}

}  // namespace hostlore::test
