// SPDX-License-Identifier: MIT
// What was asked of the terminal and what it answered. One request of each
// kind is outstanding at a time, and a wait for it ends at a fixed deadline
// (a stop and continue does not move it). A reply that misses its wait is
// still taken when it comes; until then queries do not wait, so a terminal
// that never answers costs one wait in all. An answer holds while nothing
// has been written since the request, the window has kept its size and the
// process was not stopped: the queries of one moment ask once.
#include "runtime/term/questions/reports.h"

#include <algorithm>

ReportTracker term_reports;

bool ReportTracker::answer_at(Report report, const Moment& now, int32_t* row, int32_t* column) const {
  const Awaited& w = of(report);
  if (!w.answered || !(w.asked_at == now)) return false;
  *row = w.row;
  *column = w.column;
  return true;
}

bool ReportTracker::forget_if_stopped(Report report, unsigned stops) {
  Awaited& w = of(report);
  if (!w.outstanding || w.asked_at.stops == stops) return false;
  w.outstanding = false;
  return true;
}

void ReportTracker::asked(Report report, const Moment& now, int64_t now_ms) {
  Awaited& w = of(report);
  w.ever_asked = w.outstanding = true;
  w.waited_out = w.answered = false;
  w.asked_at = now;
  w.asked_ms = now_ms;
  w.deadline_ms = now_ms + kReplyWaitMs;
}

// Nobody asked (or a stop since): not a reply. xterm's Ctrl+F3 reads the same as a cursor report.
bool ReportTracker::receive(Report report, int32_t row, int32_t column, unsigned stops) {
  Awaited& w = of(report);
  if (!due(w, stops)) return false;
  w.outstanding = w.waited_out = false;
  w.answered = true;
  w.row = row;
  w.column = column;
  return true;
}

bool ReportTracker::answer(Report report, unsigned resizes, int32_t* row, int32_t* column) const {
  const Awaited& w = of(report);
  if (!w.answered || w.asked_at.resizes != resizes) return false;
  *row = w.row;
  *column = w.column;
  return true;
}

ReportTracker::Due ReportTracker::due(unsigned stops) const {
  Due result{0, 0, 0};
  for (const Awaited* w : {&cursor_, &size_, &keyboard_}) {
    if (!due(*w, stops)) continue;
    ++result.count;
    result.until_ms = std::max(result.until_ms, w->asked_ms + kLateReplyMs);
    // Nothing waits for the keyboard's answer: a lone ESC stays the Escape key.
    if (w != &keyboard_) result.wait_end_ms = std::max(result.wait_end_ms, w->deadline_ms);
  }
  return result;
}
