// SPDX-License-Identifier: MIT
#include "runtime/input/edit_memory.h"

#include <algorithm>

#include "runtime/term/screen/text.h"

// --- Kill ring --------------------------------------------------------------------

void KillRing::kill(std::string_view text, Gather gather) {
  if (entries_.empty() || gather == Gather::New) {
    entries_.emplace_front(text);
    if (entries_.size() > kEntries) entries_.pop_back();
  } else if (gather == Gather::Append) {
    entries_.front().append(text);
  } else {
    entries_.front().insert(0, text);
  }
  shown_ = 0;
}

const std::string& KillRing::newest() {
  shown_ = 0;
  return entries_.front();
}

const std::string& KillRing::previous() {
  shown_ = (shown_ + 1) % entries_.size();
  return entries_[shown_];
}

void KillRing::take_back(Gather gather, std::size_t length) {
  if (entries_.empty()) return;
  std::string& front = entries_.front();
  if (gather == Gather::New) {
    entries_.pop_front();
  } else if (gather == Gather::Append) {
    front.erase(front.size() - std::min(length, front.size()));
  } else {
    front.erase(0, length);
  }
  shown_ = 0;
}

// --- Undo list ----------------------------------------------------------------------

void UndoList::add(std::size_t at, std::string_view removed, std::size_t inserted, std::size_t cursor) {
  const bool joins = grouping_ && open_ && !changes_.empty();
  changes_.push_back({at, std::string(removed), inserted, cursor, !joins});
  if (grouping_) open_ = true;
}

void UndoList::record(std::size_t at, std::string_view removed, std::string_view inserted, std::size_t cursor,
                      bool typed, bool utf8) {
  if (!typed || !removed.empty() || (grouping_ && open_)) return add(at, removed, inserted.size(), cursor);
  for (std::size_t i = 0; i < inserted.size();) {
    const std::size_t length = utf8 ? std::max<std::size_t>(text_decode_utf8(inserted, i).length, 1) : 1;
    Change* last = changes_.empty() ? nullptr : &changes_.back();
    // The last change an insertion of its own (a group of one) that ends here and is still short.
    if (length == 1 && last != nullptr && last->starts_group && last->removed.empty() &&
        last->at + last->inserted == at + i && last->inserted < kJoinedTyping) {
      last->inserted += 1;
    } else {
      add(at + i, {}, length, cursor + i);
    }
    i += length;
  }
}

bool UndoList::undo(std::string& line, std::size_t* cursor, const Changed& changed, bool as_before) {
  if (changes_.empty()) return false;
  for (bool group_done = false; !group_done && !changes_.empty();) {
    const Change change = std::move(changes_.back());
    changes_.pop_back();
    line.replace(change.at, change.inserted, change.removed);
    changed(change.at, change.inserted, change.removed.size());
    *cursor = as_before ? change.cursor : change.at + change.removed.size();
    group_done = change.starts_group;
  }
  end_group();
  return true;
}

// --- History walk -------------------------------------------------------------------

const std::string HistoryWalk::kEmpty;

HistoryWalk::HistoryWalk(History* history)
    : history_(history),
      count_(history != nullptr ? history->entries.size() : 0),
      shown_(count_),
      edited_(history != nullptr ? history->edits : std::map<std::size_t, HistoryEdit>{}) {}

void HistoryWalk::move_to(std::size_t index, std::string* line, UndoList* undo) {
  edited_[shown_] = HistoryEdit{std::move(*line), std::move(*undo)};
  shown_ = index;
  const auto found = edited_.find(index);
  if (found != edited_.end()) {
    *line = std::move(found->second.text);
    *undo = std::move(found->second.undo);
    edited_.erase(found);
  } else {
    *line = original();
    undo->clear();
  }
}

const std::string& HistoryWalk::original() const { return shown_ < count_ ? history_->entries[shown_] : kEmpty; }

const std::string& HistoryWalk::text_of(std::size_t index, const std::string& shown_text) const {
  if (index == shown_) return shown_text;
  const auto found = edited_.find(index);
  if (found != edited_.end()) return found->second.text;
  return index < count_ ? history_->entries[index] : kEmpty;
}

std::optional<HistoryWalk::Found> HistoryWalk::search(std::string_view query, const std::string& shown_text,
                                                     int64_t from, bool backward) const {
  // The line shown first, from the cursor on in the search's direction; then the others in turn.
  std::size_t at = std::string::npos;
  if (backward) {
    if (from >= 0) at = std::string_view(shown_text).rfind(query, static_cast<std::size_t>(from));
  } else if (from <= static_cast<int64_t>(shown_text.size())) {
    at = std::string_view(shown_text).find(query, static_cast<std::size_t>(from));
  }
  if (at != std::string::npos) return Found{shown_, at};
  for (std::size_t index = shown_; backward ? index-- > 0 : ++index < size();) {
    const std::string_view text = text_of(index, shown_text);
    at = backward ? text.rfind(query) : text.find(query);
    if (at != std::string::npos) return Found{index, at};
  }
  return std::nullopt;
}

void HistoryWalk::take(const std::string& line, std::size_t limit, bool revert) {
  if (history_ == nullptr) return;
  edited_.erase(count_);  // the line that was being typed is gone once another is taken
  history_->edits = revert ? std::map<std::size_t, HistoryEdit>{} : std::move(edited_);
  edited_.clear();
  std::vector<std::string>& entries = history_->entries;
  if (line.empty()) return;
  if (entries.empty() || entries.back() != line) entries.push_back(line);
  if (entries.size() <= limit) return;
  entries.erase(entries.begin());
  std::map<std::size_t, HistoryEdit> shifted;  // the indices of the edits follow the entries
  for (auto& [index, edit] : history_->edits) {
    if (index > 0) shifted.emplace(index - 1, std::move(edit));
  }
  history_->edits = std::move(shifted);
}