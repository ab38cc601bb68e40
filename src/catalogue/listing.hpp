#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/backup_entry.hpp"
#include "catalogue/dates.hpp"

namespace bm {

// Texts numbered in the order they are added, held end to end in one buffer: a text costs its
// bytes and four more, however short it is.
class TextTable {
 public:
  TextTable() = default;

  // Each text once: the same text always gets the same number.
  std::uint32_t intern(std::string_view text) { return intern(text, hashOf(text)); }
  std::uint32_t intern(std::string_view text, std::uint64_t hash);
  static std::uint64_t hashOf(std::string_view text);
  // The number of an interned text, if it is one.
  std::optional<std::uint32_t> find(std::string_view text) const;
  // A hint that hash will soon be interned: fetches into the cache what the lookup will read,
  // one step of three (its slot, then where the text there starts, then that text's bytes), each
  // step needing the one before it in the cache already. Looked up some at a time, with every
  // step given for all of them before the next, their waits on memory overlap.
  void prefetch(std::uint64_t hash, int step) const;
  // A new number whatever the text, for texts that cannot repeat or whose repeats do not matter.
  std::uint32_t append(std::string_view text);

  std::string_view operator[](std::uint32_t id) const {
    return std::string_view(text_).substr(starts_[id], starts_[id + 1] - starts_[id]);
  }
  std::uint32_t size() const { return static_cast<std::uint32_t>(starts_.size() - 1); }
  // Room for this many texts and bytes, taken before they come (see Listing::reserve).
  void reserve(std::size_t texts, std::size_t bytes);

 private:
  void rehash(std::size_t slots);
  // The slot that holds text, or the free one where it would go.
  std::size_t slotOf(std::string_view text, std::uint64_t hash) const;

  std::string text_;
  std::vector<std::uint32_t> starts_{0};  // where each text starts; the last is the end
  // Interned texts by hash: the hash's high half above id + 1 (0 where free), so that a probe
  // compares texts only when their hashes agree.
  std::vector<std::uint64_t> slots_;
};

// A name shape's hash (BackupEntry::nameShape) in the 32 bits an entry keeps: 0 (not known)
// stays 0, anything else is never 0.
std::uint32_t foldedShape(std::uint64_t shape);

// One directory entry, in 24 bytes: its texts are numbers in the listing's tables.
struct ListedEntry {
  double modified = 0;      // st_mtime in seconds, with its fraction, when the scan read it
  std::uint32_t host = 0;   // in Listing::hosts
  std::uint32_t date = 0;   // in Listing::dates
  std::uint32_t shape = 0;  // a name-field entry's name without its date, hashed (0: not known)
  std::uint32_t name = 0;   // in Listing::names, when the scan keeps them
};

// A scanned directory, held compactly: the reports sort and choose entries by their numbers,
// and read texts only to compare host names and to write what they print or send. A name-field
// listing holds each host name once, so that two entries share a host when they share its
// number; a modification-time listing holds one per entry, as it never merges hosts.
struct Listing {
  NamingScheme scheme = NamingScheme::ModificationTime;
  std::vector<ListedEntry> entries;
  TextTable hosts;
  TextTable dates;                               // each date text once, as read
  std::vector<std::optional<CalendarDay>> days;  // each date text's day, if it is one
  TextTable names;                               // file names as listed, when kept
  bool keepsNames = false;
  std::vector<UndatedEntry> undated;

  // A date text's number, its day read once.
  std::uint32_t date(std::string_view text);
  // The date as the reports write it: a name-field entry's day in "%Y-%m-%d" once duplicates are
  // removed, a modification day as it was made.
  std::string shownDate(const ListedEntry& entry) const;
  // Room for the entries a directory of this size can hold, taken up front and touched only as
  // it fills: memory that is reserved but never written costs nothing, where growing by
  // doubling would copy every entry and hold two copies at once.
  void reserve(std::size_t directoryBytes);
};

// What the scan reads of each entry beyond its name.
enum class ScanReads { NameOnly, Times, TimesAndNames };

// The entry numbers 0 .. n-1 of a listing, in listing order.
std::vector<std::uint32_t> listingOrder(const Listing& listing);

// The entry numbers in the byte order of the text each entry's key gives in table (greatest first
// if asked), and in listing order where texts are equal: a stable sort. A listing holds few
// distinct texts of a kind, so these are sorted, and the entries counted into place by their
// text's rank (one pass to count, one to place), never compared with each other.
enum class TextOrder { Ascending, GreatestFirst };
std::vector<std::uint32_t> orderByText(const Listing& listing, const TextTable& table,
                                       std::uint32_t ListedEntry::*key, TextOrder direction);

// The entries of a scan result as a listing, in their order; a name-field listing holds each host
// name once.
Listing listingOf(const ScanResult& scan);
Listing listingOf(const std::vector<BackupEntry>& entries, NamingScheme scheme);

// The chosen ones of the entries a listing was made of (listingOf), each with its date as the
// listing shows it.
std::vector<BackupEntry> chosenEntries(const std::vector<BackupEntry>& entries,
                                       const Listing& listing,
                                       const std::vector<std::uint32_t>& chosen);

// A listing as the scan result it stands for: every entry in listing order, dates as read.
ScanResult scanResultOf(Listing listing);

}  // namespace bm
