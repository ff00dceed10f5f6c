// SPDX-License-Identifier: MIT
// What the line editor remembers, as readline does: the kill ring (kept for
// the run), one line's undo list, and the walk through a prompt's history
// with the edits made to its entries on the way. Small objects without I/O,
// tested directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The texts the last kills took, newest first. Kills one after another
// gather into one piece; Ctrl+Y puts back the newest, and Alt+Y right after
// it the one before, round the ring.
class KillRing {
 public:
  static constexpr std::size_t kEntries = 10;  // readline's kill-ring size
  enum class Gather { New, Append, Prepend };

  void kill(std::string_view text, Gather gather);
  bool empty() const { return entries_.empty(); }
  // The newest piece, and the ring turned back to it.
  const std::string& newest();
  // The piece before the one last given, round the ring.
  const std::string& previous();
  // Takes back the last kill: a new piece is dropped, a gathered one cut back.
  void take_back(Gather gather, std::size_t length);

 private:
  std::deque<std::string> entries_;
  std::size_t shown_ = 0;  // the piece last given
};

// A line's changes, undone group by group as readline undoes them: every
// command is a group of its own, but a character typed (one byte) right
// where the last insertion ended joins it while it holds fewer than 20
// bytes, whatever keys that changed nothing came between.
class UndoList {
 public:
  // A change made: at the byte index at, removed was taken out and inserted
  // put in; the cursor stood at cursor before it. Typed text joins the last
  // insertion character by character (in UTF-8, a character of several bytes
  // starts a change of its own).
  void record(std::size_t at, std::string_view removed, std::string_view inserted, std::size_t cursor, bool typed,
              bool utf8);
  // Opens a group that the changes until end_group share (a command repeated by a count).
  void open_group() { open_ = false; grouping_ = true; }
  void end_group() { grouping_ = open_ = false; }
  // The changes made since there were first changes (an insertion in vi mode, from i to Escape) are one group.
  void join_from(std::size_t first) {
    for (std::size_t i = first + 1; i < changes_.size(); ++i) changes_[i].starts_group = false;
  }
  // Undoes the last group on line; false when there is none. Each change
  // it makes is told to changed: bytes [at, at + removed) replaced by
  // inserted bytes. The cursor goes after what came back, as readline puts
  // it, or (as_before) where it stood before the group.
  using Changed = std::function<void(std::size_t at, std::size_t removed, std::size_t inserted)>;
  bool undo(std::string& line, std::size_t* cursor, const Changed& changed, bool as_before = false);
  void clear() {
    changes_.clear();
    end_group();
  }
  bool empty() const { return changes_.empty(); }
  std::size_t changes() const { return changes_.size(); }

 private:
  static constexpr std::size_t kJoinedTyping = 20;
  struct Change {
    std::size_t at;
    std::string removed;
    std::size_t inserted;
    std::size_t cursor;
    bool starts_group;
  };
  void add(std::size_t at, std::string_view removed, std::size_t inserted, std::size_t cursor);
  std::vector<Change> changes_;
  bool open_ = false;      // the current group takes more changes
  bool grouping_ = false;  // ... until end_group
};

// An incremental history search in progress: its direction, what is typed,
// whether it matches, and the history line and cursor when it began.
struct HistorySearch {
  bool backward;
  std::string query;
  std::size_t start_index;
  std::size_t start_position;
  bool failed = false;
};

// An edit made to a history entry: its text now and the undo list that
// takes it back to the entry.
struct HistoryEdit {
  std::string text;
  UndoList undo;
};

// A prompt's history: the lines taken, oldest first, and the edits made to
// entries on earlier lines, kept as readline keeps them unless
// revert-all-at-newline is set.
struct History {
  std::vector<std::string> entries;
  std::map<std::size_t, HistoryEdit> edits;
};

// A prompt's history as the editor walks it: the entries and, after them,
// the line being typed. Edits made to an entry are kept, with its undo
// list, while the walk goes on; the entries themselves never change.
class HistoryWalk {
 public:
  explicit HistoryWalk(History* history);
  std::size_t size() const { return count_ + 1; }  // the entries and the line being typed
  std::size_t shown() const { return shown_; }
  bool at_newest() const { return shown_ == count_; }
  // Keeps the shown line's text and undo list, and shows another: its
  // edited text if it was edited on this walk.
  void move_to(std::size_t index, std::string* line, UndoList* undo);
  // The shown line as it was before this walk edited it.
  const std::string& original() const;
  // The nearest line (from the shown one, older when backward) whose text,
  // as edited, holds query: in the line shown, starting at or before from
  // (backward) or at or after it (forward); in the others, anywhere. Its
  // index and where the query stands.
  struct Found {
    std::size_t index;
    std::size_t at;
  };
  std::optional<Found> search(std::string_view query, const std::string& shown_text, int64_t from,
                              bool backward) const;
  // The text a line shows on this walk.
  const std::string& text_of(std::size_t index, const std::string& shown_text) const;
  // The line taken: added at the end unless it repeats the last entry. The
  // entry it came from, if any, goes back to what it was; the edits made to
  // the others are kept for the next lines, or (revert) dropped.
  void take(const std::string& line, std::size_t limit, bool revert);

 private:
  History* history_;    // none: no history
  std::size_t count_;   // entries when the walk began
  std::size_t shown_;
  std::map<std::size_t, HistoryEdit> edited_;
  static const std::string kEmpty;
};
