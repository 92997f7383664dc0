// The live view: finished targets scroll at the top, below them one line per
// running target (name, address, a bar of its progress steps and its stage),
// and at the bottom the echo sweep's counts, the overall bar with the time
// left, and the counts of the outcomes.
#include <curses.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "fleet/fleet_view.h"
#include "fleet/run_line.h"

namespace hostlore::fleet {
namespace {

constexpr auto kMinRedraw = std::chrono::milliseconds(100);

std::string Bar(double fraction, int width) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int filled = static_cast<int>(fraction * width + 0.5);
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(width - filled), '.') + "]";
}

std::string Fit(std::string text, size_t width) {
  if (text.size() > width) text.resize(width);
  text.resize(width, ' ');
  return text;
}

// ncurses' screen on standard output; ended (and the terminal restored) when
// destroyed.
class LiveView final : public FleetView {
 public:
  explicit LiveView(SCREEN* screen) : screen_(screen) {
    set_term(screen_);
    noecho();
    curs_set(0);
  }
  ~LiveView() override { End(); }
  LiveView(const LiveView&) = delete;
  LiveView& operator=(const LiveView&) = delete;

  void Refresh(const FleetState& state) override {
    const Clock::time_point now = Clock::now();
    if (now - last_draw_ < kMinRedraw) return;
    last_draw_ = now;
    Draw(state);
  }

  void Finished(const TargetRun& run) override {
    finished_.push_back(FinishedLine(run));
    while (finished_.size() > 500) finished_.pop_front();
  }

  void Close(const FleetState& state) override {
    Draw(state);
    End();
  }

 private:
  void End() {
    if (screen_ == nullptr) return;
    endwin();
    delscreen(screen_);
    screen_ = nullptr;
  }

  // The window may have changed size: the resize signal goes to the runner.
  void FollowTerminalSize() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 &&
        (size.ws_row != LINES || size.ws_col != COLS)) {
      resizeterm(size.ws_row, size.ws_col);
    }
  }

  void Draw(const FleetState& state) {
    if (screen_ == nullptr) return;
    FollowTerminalSize();
    erase();
    const int rows = LINES;
    const size_t width = static_cast<size_t>(std::max(COLS, 20));
    std::vector<const TargetRun*> running;
    for (const TargetRun& run : state.runs) {
      if (run.state == RunState::kRunning) running.push_back(&run);
    }
    // Two lines for the overall bar and counts (three with the echo sweep),
    // one rule; running targets get what remains after at least a third of
    // the screen for finished ones.
    const int bottom = state.sweep.on ? 4 : 3;
    const int running_rows = std::min<int>(static_cast<int>(running.size()), std::max(0, (rows - bottom) * 2 / 3));
    const int finished_rows = std::max(0, rows - bottom - running_rows);

    int row = 0;
    const size_t first = finished_.size() > static_cast<size_t>(finished_rows)
                             ? finished_.size() - static_cast<size_t>(finished_rows)
                             : 0;
    for (size_t i = first; i < finished_.size(); ++i) {
      mvaddnstr(row++, 0, finished_[i].c_str(), static_cast<int>(width));
    }
    row = finished_rows;
    const int bar_width = std::clamp(static_cast<int>(width) / 5, 10, 30);
    for (int i = 0; i < running_rows; ++i) {
      const TargetRun& run = *running[static_cast<size_t>(i)];
      char percent[16];
      std::snprintf(percent, sizeof percent, "%3.0f%%", std::min(run.percent, 100.0));
      std::string line = Fit(run.name, 20) + " " + Fit(run.address, 15) + " " +
                         Bar(run.percent / 100, bar_width) + " " + percent + " " + std::string(run.Stage());
      if (i == running_rows - 1 && running.size() > static_cast<size_t>(running_rows)) {
        line = "... and " + std::to_string(running.size() - static_cast<size_t>(running_rows) + 1) +
               " more running";
      }
      mvaddnstr(row++, 0, line.c_str(), static_cast<int>(width));
    }
    mvhline(rows - bottom, 0, '-', static_cast<int>(width));

    const FleetCounts counts = state.Counts();
    const double fraction = counts.total == 0 ? 1 : static_cast<double>(counts.done) / counts.total;
    const double left = state.SecondsLeft();
    const double elapsed = std::chrono::duration<double>(Clock::now() - state.started).count();
    std::string overall = Bar(fraction, std::clamp(static_cast<int>(width) - 20, 10, 60));
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3.0f%%", fraction * 100);
    overall += percent;
    overall += "  " + FormatDuration(elapsed) + (left < 0 ? "" : ", about " + FormatDuration(left) + " left");
    std::string counts_line = CountsLine(counts) + " · " + std::to_string(counts.running) + " running";
    if (state.malformed_lines > 0) counts_line += " · " + std::to_string(state.malformed_lines) + " malformed";
    if (state.interrupted) counts_line += " · interrupted, ending the agents";
    if (state.sweep.on) {
      mvaddnstr(rows - 3, 0, SweepLine(state.sweep, state.runs.size()).c_str(), static_cast<int>(width));
    }
    attron(A_BOLD);
    mvaddnstr(rows - 2, 0, overall.c_str(), static_cast<int>(width));
    attroff(A_BOLD);
    mvaddnstr(rows - 1, 0, counts_line.c_str(), static_cast<int>(width));
    refresh();
  }

  SCREEN* screen_;
  std::deque<std::string> finished_;
  Clock::time_point last_draw_{};
};

}  // namespace

std::unique_ptr<FleetView> NewLiveView() {
  const char* term = std::getenv("TERM");
  if (!::isatty(STDOUT_FILENO) || term == nullptr || std::strcmp(term, "dumb") == 0) return nullptr;
  // The view's text is UTF-8 ("·" between the counts). Curses places a
  // partly redrawn line by columns only when it decodes characters, so
  // without a UTF-8 character type every change after a "·" landed one
  // column further right per "·".
  if (std::setlocale(LC_CTYPE, "") == nullptr || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) return nullptr;
  return std::make_unique<LiveView>(screen);
}

}  // namespace hostlore::fleet
